// KivMox::Node: the root of the node classes held by the node tree. Each node class
// reports the type name and record version under which it is saved.
#pragma once

#include <cstdint>
#include <string>

namespace KivMox {

// The node classes; node_kinds.hpp holds what each kind is stored as. A material is held
// by its shape and never stands in the tree on its own.
enum class NodeKind { Group, Shape, Geometry, NodeSets, Future, Material };

class Node {
 public:
  Node() = default;
  virtual ~Node() = default;
  virtual NodeKind Kind() const = 0;
  // The type name of the node's kind (node_kinds.cpp).
  virtual std::string GetTypeName() const;
  virtual std::string GetVersion() const { return "0.1"; }
  virtual std::uint8_t GetFlag() const { return flagA; }
  // Four operations that no node class overrides.
  virtual void Reserved1() {}
  virtual void Reserved2() {}
  virtual void Reserved3() {}
  virtual void Reserved4() {}

  std::string name;
  // The record version the node was read under (empty for a node made in memory); a save
  // always writes GetVersion().
  std::string storedVersion;
  std::uint8_t flagA = 0;
  std::uint8_t flagB = 0;
  std::uint32_t word = 0;
};

// The node as T (T::kKind names its kind), or null when it is of another kind.
template <class T>
T* NodeAs(Node* node) {
  return node && node->Kind() == T::kKind ? static_cast<T*>(node) : nullptr;
}
template <class T>
const T* NodeAs(const Node* node) {
  return node && node->Kind() == T::kKind ? static_cast<const T*>(node) : nullptr;
}

}  // namespace KivMox
