// KivAdt::Tree<T>: a tree of entries keyed by a u32 identifier (0 = none, root = 1).
// Each entry links its parent, its previous and next sibling and its first and last child;
// the children of a node form a doubly linked list in the order they were added.
// The entries live in a map ordered by identifier, so every walk is in identifier order.
// `nextId` is greater than every identifier in use; `currentId` is where AppendChild adds.
// The tree does not own what a pointer payload points to.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "kiv/log/raise.hpp"

namespace KivAdt {

// A copy of name that lives until the process ends (exceptions keep the method name as a
// plain pointer).
const char* MethodName(const std::string& name);

template <class T>
struct TreeEntry {
  std::uint32_t id = 0;
  std::uint32_t parentId = 0;
  std::uint32_t prevSiblingId = 0;
  std::uint32_t nextSiblingId = 0;
  std::uint32_t firstChildId = 0;
  std::uint32_t lastChildId = 0;
  T data{};
};

template <class T>
class Tree {
 public:
  using Entry = TreeEntry<T>;
  using EntryMap = std::map<std::uint32_t, Entry>;
  using const_iterator = typename EntryMap::const_iterator;

  // payloadName names the payload type in the method names of failures, e.g.
  // "KivAdt::Tree<class KivMox::Node *>::GetReqNode".
  explicit Tree(const std::string& payloadName = "T")
      : methodPrefix_("KivAdt::Tree<" + payloadName + ">::") {
    entries_[1].id = 1;
  }
  virtual ~Tree() = default;
  Tree(const Tree&) = default;
  Tree& operator=(const Tree&) = default;

  // The entry of id; code 5 when there is none.
  Entry& GetReqNode(std::uint32_t id) {
    auto it = entries_.find(id);
    if (it == entries_.end()) FailReqNode();
    return it->second;
  }
  const Entry& GetReqNode(std::uint32_t id) const {
    auto it = entries_.find(id);
    if (it == entries_.end()) FailReqNode();
    return it->second;
  }

  // Raises what GetReqNode raises for an identifier without an entry (code, description,
  // method, source and log record alike): for a caller that cannot use the entry it found
  // and fails as if there were none.
  [[noreturn]] void FailReqNode() const { Fail("GetReqNode"); }

  // The entry of currentId; code 5 when there is none.
  Entry& GetCurrentNode() {
    auto it = entries_.find(currentId_);
    if (it == entries_.end()) Fail("GetCurrentNode");
    return it->second;
  }

  // Any id below nextId is accepted, whether or not an entry has it.
  void SetCurrentId(std::uint32_t id) {
    if (id >= nextId_) Fail("SetCurrentId");
    currentId_ = id;
  }

  // The smallest identifier whose payload has the name, type name and version of node
  // (exact comparison); null payloads never match. Code 5 when none does. Used with
  // pointers to node classes (name, GetTypeName(), GetVersion()).
  std::uint32_t GetMatchingNodeId(const T& node) const {
    if (node) {
      const auto type = node->GetTypeName();
      const auto version = node->GetVersion();
      for (const auto& [id, entry] : entries_) {
        const T& p = entry.data;
        if (p && p->name == node->name && p->GetTypeName() == type && p->GetVersion() == version)
          return id;
      }
    }
    Fail("GetMatchingNodeId");
  }

  // Adds payload as the last child of the current node and makes it current. A current
  // identifier without an entry gets one with all fields 0.
  std::uint32_t AppendChild(T payload) {
    if (nextId_ == kNoMoreIds) Fail("AppendChild", Kiv::Util::ErrorCode::OutOfBounds);
    const std::uint32_t n = nextId_;
    Entry& parent = entries_[currentId_];
    Entry child;
    child.id = n;
    child.parentId = currentId_;
    child.prevSiblingId = parent.lastChildId;
    child.data = std::move(payload);
    if (parent.lastChildId == 0)
      parent.firstChildId = n;
    else if (auto last = entries_.find(parent.lastChildId); last != entries_.end())
      last->second.nextSiblingId = n;
    parent.lastChildId = n;
    entries_[n] = std::move(child);
    nextId_ = n + 1;
    currentId_ = n;
    return n;
  }

  // Stores entry under its id, replacing an entry of that id; raises nextId past it.
  // The links of other entries are left as they are.
  void SetEntry(Entry entry) {
    if (entry.id == kNoMoreIds) Fail("SetEntry", Kiv::Util::ErrorCode::OutOfBounds);
    auto it = entries_.find(entry.id);
    const std::uint32_t id = entry.id;
    if (it != entries_.end()) {
      PayloadReplaced(it->second.data, entry.data);
      it->second = std::move(entry);
    } else {
      entries_.emplace(id, std::move(entry));
    }
    if (id >= nextId_) nextId_ = id + 1;
  }

  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }
  const EntryMap& Entries() const { return entries_; }
  std::size_t Size() const { return entries_.size(); }
  std::uint32_t NextId() const { return nextId_; }
  std::uint32_t CurrentId() const { return currentId_; }

 protected:
  // Called by SetEntry before an existing entry's payload old is replaced by
  // replacement (which may be the same value); a tree that owns its payloads disposes
  // of old here.
  virtual void PayloadReplaced(T& old, const T& replacement) {
    (void)old;
    (void)replacement;
  }

 private:
  // nextId cannot move past this value, so no identifier is ever 0xFFFFFFFF.
  static constexpr std::uint32_t kNoMoreIds = 0xFFFFFFFFu;

  [[noreturn]] void Fail(const char* operation,
                         Kiv::Util::ErrorCode code = Kiv::Util::ErrorCode::ElementNotFound) const {
    Kiv::Log::Raise(code, nullptr, __FILE__, __LINE__, MethodName(methodPrefix_ + operation));
  }

  EntryMap entries_;
  std::uint32_t nextId_ = 2;
  std::uint32_t currentId_ = 1;
  std::string methodPrefix_;
};

}  // namespace KivAdt
