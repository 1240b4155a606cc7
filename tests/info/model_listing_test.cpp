// moxinfo's listing gathered from trees in memory: broken links listed in place, unreached
// entries after the tree; the value ranges and links of arrays.
#include "info/model_listing.hpp"

#include <limits>
#include <sstream>

#include <gtest/gtest.h>

#include "info/listing_text.hpp"
#include "kiv/mox/group.hpp"
#include "support/model_builder.hpp"

using namespace MoxInfo;
using KivMox::Tree;

namespace {

TEST(ListModel, ListsBrokenLinksInPlaceAndUnreachedEntriesAfter) {
  auto tree =
      TestSupport::LinkedTree({{1, 0, 0, 2}, {2, 1, 2, 50}, {3, 0xFF, 0, 0}, {7, 40, 0, 0}});
  tree->GetNode(2)->name = "A\x01\x1B[31m\x1E\"";
  std::ostringstream text;
  PrintListing(ListModel(*tree, "x"), text);
  EXPECT_EQ(text.str(), R"(File: x
Container version: 
Entries: 4

Node tree:
[1] Group "" version 0.4 mergeRoot=0 attributes=0
  [2] Group "A\x01\x1B[31m<RS>\"" version 0.4 mergeRoot=0 attributes=0
    !! [2] first child -> 50: dangling, no such entry
  !! [2] next sibling -> 2: cycle, already listed, not followed

Unreached entries (not linked from the root):
[3] (no node) (parent link 1)
[7] Group "" version 0.4 mergeRoot=0 attributes=0 (parent link 40)

Save history (0 records):

View points: none
)");
}

// "count nan min max" of an array's listing ("-" for an absent bound).
std::string Range(const KivMox::GeometryArray& array) {
  const ArrayListing l = ListArray(Tree(), array, 0);
  return std::to_string(l.valueCount) + " " + std::to_string(l.nanCount) + " " +
         (l.minimum ? ValueText(*l.minimum, l.integers) : "-") + " " +
         (l.maximum ? ValueText(*l.maximum, l.integers) : "-");
}

TEST(ListArray, ValueRangesAndLinks) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  using TestSupport::FloatArray;
  EXPECT_EQ(Range(FloatArray("a", {nan, 2.5f, -1.25f, nan})), "4 2 -1.25 2.5");
  EXPECT_EQ(Range(FloatArray("a", {nan})), "1 1 - -");
  EXPECT_EQ(Range(FloatArray("a", {1.0f, -inf, inf})), "3 0 -inf inf");
  EXPECT_EQ(Range(TestSupport::IntArray("a", {7, -3, 2147483647})), "3 0 -3 2147483647");
  EXPECT_EQ(Range(KivMox::GeometryArray{}), "0 0 - -");
  KivMox::GeometryArray odd = FloatArray("a", {1.0f, 2.0f});
  odd.data.byteSize = 6;  // a trailing partial value is not a value
  EXPECT_EQ(Range(odd), "1 0 1 1");
  KivMox::GeometryArray unread;  // a size, but no values read
  unread.data.byteSize = 8;
  EXPECT_EQ(Range(unread), "2 0 - -");

  // A link resolves only to an existing array of a geometry.
  TestSupport::Model model("m");
  model.AddGeometry(1, "g", {FloatArray("a", {1.0f})});
  for (const auto& [node, index, resolves] :
       {std::tuple{2u, 0u, true}, {2u, 1u, false}, {1u, 0u, false}, {9u, 0u, false}})
    EXPECT_EQ(ListArray(model.tree, TestSupport::LinkedArray("l", node, index), 0).linkResolves,
              resolves)
        << node << ":" << index;
}

}  // namespace
