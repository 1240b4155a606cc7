// Files that store one model's arrays in another order than their tree lists them. A save
// writes the arrays it reads from files input by input, each input's in its stored order,
// whatever order its tree lists them in: a tree listing the geometries of two files reversed,
// interleaved or shuffled is saved in the order of its sources, its heavy data spread over
// many small blocks.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kiv/rkf/open_file_pool.hpp"
#include "support/model_builder.hpp"
#include "support/test_support.hpp"

namespace TestSupport {

enum class ListOrder { Reversed, Interleaved, Shuffled };

inline const char* ListOrderName(ListOrder order) {
  return order == ListOrder::Reversed      ? "Reversed"
         : order == ListOrder::Interleaved ? "Interleaved"
                                           : "Shuffled";
}

// Heavy blocks of 4 KiB.
inline EnvGuard SmallHeavyBlocks() {
  return EnvGuard("KORVANE_MAX_MOX_BLOCK_SIZE", "4096");
}

// Saves `parts` geometries of a float array of three components (1500 values from seed) and
// a connectivity array (500 values): 8 KiB of heavy data each.
inline void SaveParts(const std::string& path, int parts, float seed) {
  const EnvGuard blocks = SmallHeavyBlocks();
  Model model("Parts");
  for (int p = 0; p < parts; ++p) {
    std::vector<float> field(1500);
    std::vector<std::int32_t> conn(500);
    for (std::size_t i = 0; i < field.size(); ++i) field[i] = seed + float(p) * 0.25f + float(i);
    for (std::size_t i = 0; i < conn.size(); ++i) conn[i] = std::int32_t(seed) + p + int(i % 7);
    model.AddGeometry(1, "part" + std::to_string(p),
                      {FloatArray("field", field, 3), IntArray("conn", conn)});
  }
  model.Save(path);
}

inline std::unique_ptr<KivMox::Tree> LoadDeferred(const std::string& path,
                                                  KivRkf::OpenFilePool& pool) {
  auto tree = std::make_unique<KivMox::Tree>();
  KivMox::Tree::IdentifierMap identifiers;
  tree->SetDeferredLoading(true);
  tree->Load(path, identifiers, &pool);
  return tree;
}

// Adds to model the geometries under the roots of sources (loaded deferred or whole), listed
// in order: the first source's reversed, one of each source in turn, or all shuffled.
inline void AddListed(Model& model, const std::vector<KivMox::Tree*>& sources, ListOrder order) {
  std::vector<std::pair<KivMox::Tree*, std::uint32_t>> listed;
  if (order == ListOrder::Reversed) {
    for (std::uint32_t id : Children(*sources[0], 1))
      listed.insert(listed.begin(), {sources[0], id});
  } else {
    const auto count = Children(*sources[0], 1).size();
    for (std::size_t k = 0; k < count; ++k)
      for (KivMox::Tree* source : sources) listed.push_back({source, Children(*source, 1).at(k)});
    if (order == ListOrder::Shuffled) {
      std::mt19937 random(7);
      for (std::size_t i = listed.size(); i > 1; --i)
        std::swap(listed[i - 1], listed[random() % i]);
    }
  }
  for (const auto& [tree, id] : listed) {
    const KivMox::Geometry& geometry = GeometryAt(*tree, id);
    model.AddGeometry(1, geometry.name, geometry.arrays);
  }
}

}  // namespace TestSupport
