// KivMox::Node: the root of the node classes held by the node tree. Each node class
// reports the type name and record version under which it is saved.
#pragma once

#include <cstdint>
#include <string>

namespace KivMox {

class Node {
 public:
  Node() = default;
  virtual ~Node() = default;
  virtual std::string GetTypeName() const { return "Node"; }
  virtual std::string GetVersion() const { return "0.1"; }
  virtual std::uint8_t GetFlag() const { return flagA; }
  // Four operations that no node class overrides.
  virtual void Reserved1() {}
  virtual void Reserved2() {}
  virtual void Reserved3() {}
  virtual void Reserved4() {}

  std::string name;
  std::uint8_t flagA = 0;
  std::uint8_t flagB = 0;
  std::uint32_t word = 0;
};

}  // namespace KivMox
