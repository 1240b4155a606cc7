// KivMox::FutureNode: stands for a node whose type name the reader does not know; it
// keeps the node's place and name in the tree. Its "Light Data" record is a u32 byte
// count followed by that many bytes, which the reader skips. It is written as a count
// of zero, so the records after it stay where a reader expects them.
#pragma once

#include <string>

#include "kiv/mox/node.hpp"

namespace KivRkf {
class IndexReader;
class IndexWriter;
}  // namespace KivRkf

namespace KivMox {

class FutureNode : public Node {
 public:
  static constexpr NodeKind kKind = NodeKind::Future;
  NodeKind Kind() const override { return kKind; }
};

void ReadFutureNode(FutureNode& node, KivRkf::IndexReader& index, const std::string& light);
void WriteFutureNode(const FutureNode& node, KivRkf::IndexWriter& index);

}  // namespace KivMox
