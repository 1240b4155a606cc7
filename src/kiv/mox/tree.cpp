// KivMox::Tree basics: ownership of the node payloads.
#include "kiv/mox/tree.hpp"

#include <unordered_set>
#include <utility>

namespace KivMox {

namespace {
constexpr const char* kPayloadName = "class KivMox::Node *";
}

Tree::Tree() : KivAdt::Tree<Node*>(kPayloadName) {}

Tree::Tree(std::string applicationName, std::string applicationVersion)
    : KivAdt::Tree<Node*>(kPayloadName),
      applicationName(std::move(applicationName)),
      applicationVersion(std::move(applicationVersion)) {
  currentInfo.applicationName = this->applicationName;
  currentInfo.applicationVersion = this->applicationVersion;
}

Tree::~Tree() {
  // Each node once, even if a caller placed one pointer in two entries.
  std::unordered_set<Node*> owned;
  for (const auto& [id, entry] : Entries())
    if (entry.data) owned.insert(entry.data);
  for (Node* node : owned) std::unique_ptr<Node> disposed(node);
}

Node* Tree::GetNode(std::uint32_t id) const {
  auto it = Entries().find(id);
  return it == Entries().end() ? nullptr : it->second.data;
}

std::uint32_t Tree::AppendChildNode(std::unique_ptr<Node> node) {
  const std::uint32_t id = AppendChild(node.get());
  (void)node.release();
  return id;
}

void Tree::SetEntryNode(TreeEntry entry, std::unique_ptr<Node> node) {
  entry.data = node.get();
  SetEntry(std::move(entry));
  (void)node.release();
}

void Tree::PayloadReplaced(Node*& old, Node* const& replacement) {
  if (old != replacement) std::unique_ptr<Node> disposed(old);
  old = nullptr;
}

}  // namespace KivMox
