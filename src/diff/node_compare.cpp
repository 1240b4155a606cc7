// Field by field comparison of two nodes (node_compare.hpp).
#include "diff/node_compare.hpp"

#include <algorithm>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/shape.hpp"
#include "kiv/util/display_text.hpp"

namespace MoxDiff {

namespace {

void CompareGroups(const KivMox::Group& l, const KivMox::Group& r, Fields& f) {
  f.Floats("translation", l.translation, r.translation);
  f.Floats("rotation", l.rotation, r.rotation);
  f.Floats("scale", l.scale, r.scale);
  f.Attributes("", l.attributes, r.attributes);
  f.Integer("mergeRoot", l.mergeRoot, r.mergeRoot);
}

void CompareMaterials(const KivMox::Material& l, const KivMox::Material& r, bool versions,
                      Fields& f) {
  f.Text("material name", l.name, r.name);
  if (versions) f.Text("material record version", l.storedVersion, r.storedVersion);
  f.Integer("material flagA", l.flagA, r.flagA);
  f.Integer("material flagB", l.flagB, r.flagB);
  f.Integer("material word", l.word, r.word);
  f.Floats("material colorA", l.colorA, r.colorA);
  f.Floats("material colorB", l.colorB, r.colorB);
  f.Floats("material colorC", l.colorC, r.colorC);
  f.Floats("material colorD", l.colorD, r.colorD);
  f.Float("material valueE", l.valueE, r.valueE);
  f.Float("material valueF", l.valueF, r.valueF);
  f.Integer("material flagG", l.flagG, r.flagG);
}

// Where a link points, seen from the compared subtree: the target's path and the array
// index, or that it leaves the subtree.
struct LinkTarget {
  bool inside = false;
  std::string text;
};

LinkTarget TargetOf(const WalkedTree& tree, const KivMox::GeometryArray& a) {
  const std::string array = " array " + std::to_string(a.linkIndex);
  if (const auto index = tree.IndexOf(a.linkNode))
    return {true, "node " + tree.PathOf(*index) + array};
  return {false, "outside the compared tree (node " + std::to_string(a.linkNode) + array + ")"};
}

void CompareArrays(const KivMox::GeometryArray& l, const KivMox::GeometryArray& r,
                   const std::string& prefix, const NodeCompareContext& context, Fields& f,
                   bool& valuesToCompare) {
  valuesToCompare = false;
  f.Text(prefix + "name", l.name, r.name);
  f.Integer(prefix + "kind", l.kind, r.kind);
  f.Integer(prefix + "subKind", l.data.subKind, r.data.subKind);
  f.Integer(prefix + "vibration", l.vibration, r.vibration);
  f.Attributes(prefix, l.attributes, r.attributes);
  f.Integer(prefix + "linked", l.linked, r.linked);
  if (l.linked != r.linked) return;
  if (l.linked) {
    // A linked array shares its target's data: only the link itself is compared.
    const LinkTarget lt = TargetOf(context.left, l), rt = TargetOf(context.right, r);
    if (lt.inside != rt.inside || (lt.inside && lt.text != rt.text))
      f.Add(prefix + "link", lt.text, rt.text);
    return;
  }
  const KivMox::NumericArray& a = l.data;
  const KivMox::NumericArray& b = r.data;
  f.Integer(prefix + "components", a.componentCount, b.componentCount);
  f.Integer(prefix + "tagA", a.tagA, b.tagA);
  f.Integer(prefix + "tagB", a.tagB, b.tagB);
  f.Integer(prefix + "paramA", a.paramA, b.paramA);
  f.Integer(prefix + "paramB", a.paramB, b.paramB);
  f.Integer(prefix + "tagC", a.tagC, b.tagC);
  f.Integer(prefix + "value count", a.byteSize / 4, b.byteSize / 4);
  if (a.byteSize / 4 == b.byteSize / 4) f.Integer(prefix + "byte size", a.byteSize, b.byteSize);
  // Values of different kinds (integers against floats) are not compared one by one: the
  // kind already differs.
  valuesToCompare = a.byteSize >= 4 && b.byteSize >= 4 && l.IsConnectivity() == r.IsConnectivity();
}

void CompareGeometries(const KivMox::Geometry& l, const KivMox::Geometry& r,
                       const NodeCompareContext& context, Fields& f, std::vector<ArrayPair>& arrays,
                       std::size_t nodePair) {
  f.Integer("array count", l.arrays.size(), r.arrays.size());
  const std::size_t n = std::min(l.arrays.size(), r.arrays.size());
  for (std::size_t i = 0; i < n; ++i) {
    const std::string prefix =
        "array " + std::to_string(i) + " " + Kiv::Util::Quoted(l.arrays[i].name) + " ";
    bool values = false;
    CompareArrays(l.arrays[i], r.arrays[i], prefix, context, f, values);
    if (values)
      arrays.push_back({&l.arrays[i], &r.arrays[i], static_cast<std::uint32_t>(i), nodePair});
  }
}

std::string MemberText(const std::pair<std::uint32_t, std::uint32_t>& m) {
  return "(" + std::to_string(m.first) + ", " + std::to_string(m.second) + ")";
}

void CompareNodeSets(const KivMox::NodeSets& l, const KivMox::NodeSets& r, Fields& f) {
  f.Integer("set count", l.sets.size(), r.sets.size());
  const std::size_t n = std::min(l.sets.size(), r.sets.size());
  for (std::size_t i = 0; i < n; ++i) {
    const KivMox::NodeSet& a = l.sets[i];
    const KivMox::NodeSet& b = r.sets[i];
    const std::string prefix = "set " + std::to_string(i) + " " + Kiv::Util::Quoted(a.name) + " ";
    f.Text(prefix + "name", a.name, b.name);
    f.Integer(prefix + "member count", a.members.size(), b.members.size());
    const std::size_t m = std::min(a.members.size(), b.members.size());
    std::size_t differing = 0;
    for (std::size_t k = 0; k < m; ++k) {
      if (a.members[k] == b.members[k]) continue;
      if (++differing <= kShownPlaces)
        f.Add(prefix + "member " + std::to_string(k), MemberText(a.members[k]),
              MemberText(b.members[k]));
    }
    if (differing > kShownPlaces)
      f.Add(prefix + "members differing in all", std::to_string(differing),
            std::to_string(differing));
  }
}

}  // namespace

std::string TypeText(const KivMox::Node* node) {
  return node ? Kiv::Util::DisplayText(node->GetTypeName()) : "(no node)";
}

void CompareNodes(const KivMox::Node* left, const KivMox::Node* right,
                  const NodeCompareContext& context, Fields& f, std::vector<ArrayPair>& arrays,
                  std::size_t nodePair) {
  if (!left || !right) {
    if (left || right) f.Add("type", TypeText(left), TypeText(right));
    return;
  }
  f.Text("type", left->GetTypeName(), right->GetTypeName());
  f.Text("name", left->name, right->name);
  if (context.versions) f.Text("record version", left->storedVersion, right->storedVersion);
  f.Integer("flagA", left->flagA, right->flagA);
  f.Integer("flagB", left->flagB, right->flagB);
  f.Integer("word", left->word, right->word);
  if (left->Kind() != right->Kind()) return;
  if (const auto* g = KivMox::NodeAs<KivMox::Group>(left)) {
    CompareGroups(*g, *KivMox::NodeAs<KivMox::Group>(right), f);
  } else if (const auto* s = KivMox::NodeAs<KivMox::Shape>(left)) {
    CompareMaterials(s->material, KivMox::NodeAs<KivMox::Shape>(right)->material, context.versions,
                     f);
  } else if (const auto* geometry = KivMox::NodeAs<KivMox::Geometry>(left)) {
    CompareGeometries(*geometry, *KivMox::NodeAs<KivMox::Geometry>(right), context, f, arrays,
                      nodePair);
  } else if (const auto* sets = KivMox::NodeAs<KivMox::NodeSets>(left)) {
    CompareNodeSets(*sets, *KivMox::NodeAs<KivMox::NodeSets>(right), f);
  }
}

}  // namespace MoxDiff
