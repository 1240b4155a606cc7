// Helpers of the end-to-end tests of moxsample and moxinfo: running moxsample into a
// scratch directory, loading a Mox file, and finding nodes of a loaded tree.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/tree.hpp"
#include "support/test_support.hpp"

namespace ToolFiles {

// Runs moxsample with the output path and the given options; fails the test unless it
// exits 0.
inline void Sample(const std::string& path, const std::vector<std::string>& options) {
  std::vector<std::string> args{path};
  args.insert(args.end(), options.begin(), options.end());
  const auto r = TestSupport::RunProgram("moxsample", args);
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(r.err.empty()) << r.err;
}

inline std::unique_ptr<KivMox::Tree> LoadTree(const std::string& path) {
  auto tree = std::make_unique<KivMox::Tree>();
  KivMox::Tree::IdentifierMap identifiers;
  tree->Load(path, identifiers);
  return tree;
}

// The identifiers of the children of id, in sibling order.
inline std::vector<std::uint32_t> Children(const KivMox::Tree& tree, std::uint32_t id) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t c = tree.GetReqNode(id).firstChildId; c != 0 && out.size() <= tree.Size();
       c = tree.GetReqNode(c).nextSiblingId)
    out.push_back(c);
  return out;
}

template <class T>
T* NodeAs(const KivMox::Tree& tree, std::uint32_t id, const char* type) {
  KivMox::Node* node = tree.GetNode(id);
  return node && node->GetTypeName() == type ? static_cast<T*>(node) : nullptr;
}

// The identifiers of all entries holding a node of the type, in identifier order.
inline std::vector<std::uint32_t> IdsOfType(const KivMox::Tree& tree, const char* type) {
  std::vector<std::uint32_t> ids;
  for (const auto& [id, entry] : tree)
    if (entry.data && entry.data->GetTypeName() == type) ids.push_back(id);
  return ids;
}

// The 32-bit words of an array's values.
inline std::vector<std::uint32_t> Words(const KivMox::GeometryArray& array) {
  std::vector<std::uint32_t> words(array.data.byteSize / 4);
  if (!words.empty()) std::memcpy(words.data(), array.data.Bytes(), words.size() * 4);
  return words;
}

inline std::vector<float> Floats(const KivMox::GeometryArray& array) {
  std::vector<float> values(array.data.byteSize / 4);
  if (!values.empty()) std::memcpy(values.data(), array.data.Bytes(), values.size() * 4);
  return values;
}

// Bytes of the values of all arrays that hold their own (not linked).
inline std::uint64_t HeavyBytes(const KivMox::Tree& tree) {
  std::uint64_t sum = 0;
  for (std::uint32_t id : IdsOfType(tree, "Geometry"))
    for (const auto& a : NodeAs<KivMox::Geometry>(tree, id, "Geometry")->arrays)
      if (!a.linked) sum += a.data.byteSize;
  return sum;
}

}  // namespace ToolFiles
