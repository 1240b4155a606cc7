// Every field moxdiff compares, changed alone on one side of two models built alike: the
// comparison finds exactly one difference and names that field. A damaged tree is walked as
// the listing walks it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "diff/model_diff.hpp"
#include "kiv/mox/shape.hpp"
#include "support/model_builder.hpp"

namespace {

using namespace KivMox;
using TestSupport::GeometryAt;

// The rich model with one action of every kind (move, transform and apply view point
// added to its rotate, apply color and play audio).
void Build(Tree& tree) {
  TestSupport::BuildRichTree(tree);
  auto& actions = tree.views.actions.actions;
  actions.push_back(std::make_unique<MoveAction>());
  actions.push_back(std::make_unique<TransformAction>());
  actions.push_back(std::make_unique<ApplyViewPointAction>());
}

template <class T>
T& At(Tree& tree, std::uint32_t id) {
  return dynamic_cast<T&>(*tree.GetNode(id));
}

Material& MaterialOf(Tree& t) {
  return At<Shape>(t, 3).material;
}
GeometryArray& Stress(Tree& t) {
  return GeometryAt(t, 4).arrays[1];
}
NumericArray& StressData(Tree& t) {
  return Stress(t).data;
}
template <class T>
T& Action(Tree& t, std::size_t i) {
  return dynamic_cast<T&>(*t.views.actions.actions.at(i));
}

// The fields of every difference found, array values as "<array> values"; with alike, only
// those whose two sides the report shows with the same text.
std::vector<std::string> FieldsFound(const MoxDiff::DiffResult& result, bool alike = false) {
  std::vector<std::string> out;
  const auto add = [&](const std::vector<MoxDiff::Difference>& found) {
    for (const auto& d : found)
      if (!alike || d.left == d.right) out.push_back(d.field);
  };
  add(result.container);
  for (const auto& node : result.nodes) {
    add(node.differences);
    if (!alike)
      for (const auto& array : node.arrays) out.push_back(array.name + " values");
  }
  add(result.history);
  add(result.viewPoints);
  return out;
}

TEST(DiffFields, EachFieldChangedAloneIsFoundAndNamed) {
  const std::string stress = "array 1 \"stress\" ";
  // The field a change makes differ; none: the model unchanged equals itself.
  const std::pair<std::string, std::function<void(Tree&)>> rows[] = {
      {"", [](Tree&) {}},
      // Container and node headers.
      {"container version", [](Tree& t) { t.fileVersion = "1.2"; }},
      {"type",
       [](Tree& t) {
         const auto entry = t.GetReqNode(7);
         auto group = std::make_unique<Group>();
         group->name = "From the future";
         t.SetEntryNode(entry, std::move(group));
       }},
      {"name", [](Tree& t) { t.GetNode(2)->name = "Part B"; }},
      {"record version", [](Tree& t) { t.GetNode(4)->storedVersion = "0.6"; }},
      {"flagA", [](Tree& t) { t.GetNode(6)->flagA = 1; }},
      {"flagB", [](Tree& t) { t.GetNode(7)->flagB = 2; }},
      {"word", [](Tree& t) { t.GetNode(5)->word = 3; }},
      {"node",
       [](Tree& t) {
         t.SetCurrentId(4);
         t.AppendChildNode(std::make_unique<Group>());
       }},
      {"parent link", [](Tree& t) { t.GetReqNode(3).parentId = 1; }},
      // Group.
      {"translation[0]", [](Tree& t) { At<Group>(t, 2).translation[0] = 1.5f; }},
      {"rotation[3]", [](Tree& t) { At<Group>(t, 2).rotation[3] = 0.25f; }},
      {"scale[1]", [](Tree& t) { At<Group>(t, 2).scale[1] = 3; }},
      {"attribute \"count\"",
       [](Tree& t) { At<Group>(t, 1).attributes["count"] = Attribute::MakeInt(41); }},
      {"mergeRoot", [](Tree& t) { At<Group>(t, 1).mergeRoot = 1; }},
      {"material name", [](Tree& t) { MaterialOf(t).name = "Iron"; }},
      {"material record version", [](Tree& t) { MaterialOf(t).storedVersion = "0.2"; }},
      {"material flagA", [](Tree& t) { MaterialOf(t).flagA = 1; }},
      {"material flagB", [](Tree& t) { MaterialOf(t).flagB = 1; }},
      {"material word", [](Tree& t) { MaterialOf(t).word = 9; }},
      {"material colorA[1]", [](Tree& t) { MaterialOf(t).colorA[1] = 0.7f; }},
      {"material colorB[3]", [](Tree& t) { MaterialOf(t).colorB[3] = 0.5f; }},
      {"material colorC[0]", [](Tree& t) { MaterialOf(t).colorC[0] = 0.5f; }},
      {"material colorD[2]", [](Tree& t) { MaterialOf(t).colorD[2] = 0.5f; }},
      {"material valueE", [](Tree& t) { MaterialOf(t).valueE = 1; }},
      {"material valueF", [](Tree& t) { MaterialOf(t).valueF = 1; }},
      {"material flagG", [](Tree& t) { MaterialOf(t).flagG = 1; }},
      {"array count",
       [](Tree& t) { GeometryAt(t, 5).arrays.push_back(TestSupport::FloatArray("extra", {1})); }},
      {stress + "name", [](Tree& t) { Stress(t).name = "strain"; }},
      {stress + "kind", [](Tree& t) { Stress(t).kind = 2; }},
      {stress + "subKind", [](Tree& t) { StressData(t).subKind = 1; }},
      {stress + "vibration", [](Tree& t) { Stress(t).vibration = 1; }},
      {stress + "attribute \"Unit\"",
       [](Tree& t) { Stress(t).attributes["Unit"] = Attribute::MakeText("Pa"); }},
      {stress + "linked", [](Tree& t) { Stress(t).linked = 1; }},
      {stress + "components", [](Tree& t) { StressData(t).componentCount = 1; }},
      {stress + "tagA", [](Tree& t) { StressData(t).tagA = 4; }},
      {stress + "tagB", [](Tree& t) { StressData(t).tagB = 4; }},
      {stress + "paramA", [](Tree& t) { StressData(t).paramA = 78; }},
      {stress + "paramB", [](Tree& t) { StressData(t).paramB = 4; }},
      {stress + "tagC", [](Tree& t) { StressData(t).tagC = 4; }},
      {stress + "value count",
       [](Tree& t) {
         const float first[2] = {-3.0f, -2.75f};
         std::memcpy(StressData(t).Allocate(8), first, 8);
       }},
      {stress + "byte size",
       [](Tree& t) {
         // 30 values and a byte more.
         NumericArray& data = StressData(t);
         std::vector<std::uint8_t> bytes(data.Bytes(), data.Bytes() + data.byteSize);
         std::memcpy(data.Allocate(bytes.size() + 1), bytes.data(), bytes.size());
       }},
      {"stress values", [](Tree& t) { reinterpret_cast<float*>(StressData(t).data.get())[7] = 8; }},
      {"array 3 \"stress copy\" link", [](Tree& t) { GeometryAt(t, 4).arrays[3].linkIndex = 2; }},
      {"set count", [](Tree& t) { At<NodeSets>(t, 6).sets.emplace_back(); }},
      {"set 1 \"load\" name", [](Tree& t) { At<NodeSets>(t, 6).sets[1].name = "loads"; }},
      {"set 1 \"load\" member count",
       [](Tree& t) { At<NodeSets>(t, 6).sets[1].members.emplace_back(7, 8); }},
      {"set 0 \"fixed\" member 1",
       [](Tree& t) { At<NodeSets>(t, 6).sets[0].members[1].second = 5; }},
      // History.
      {"record count", [](Tree& t) { t.globalInfo.emplace_back(); }},
      {"record 1 application name", [](Tree& t) { t.globalInfo[0].applicationName = "x"; }},
      {"record 1 application version", [](Tree& t) { t.globalInfo[0].applicationVersion = "x"; }},
      {"record 1 format version", [](Tree& t) { t.globalInfo[0].formatVersion = "x"; }},
      {"record 1 save time", [](Tree& t) { t.globalInfo[0].saveTime = "x"; }},
      {"record 1 computer name", [](Tree& t) { t.globalInfo[0].computerName = "x"; }},
      {"record 1 user name", [](Tree& t) { t.globalInfo[0].userName = "x"; }},
      {"record 1 caller text", [](Tree& t) { t.globalInfo[0].callerText = "x"; }},
      {"record 1 record version", [](Tree& t) { t.globalInfo[0].storedVersion = "0.0"; }},
      // View point entries.
      {"present",
       [](Tree& t) {
         t.views.present = false;
         t.views.groups.clear();
       }},
      {"current record version", [](Tree& t) { t.views.current.storedVersion = "0.1"; }},
      {"current flag", [](Tree& t) { t.views.current.flag = 0; }},
      {"current name", [](Tree& t) { t.views.current.name = "back"; }},
      {"current valuesA[2]", [](Tree& t) { t.views.current.valuesA[2] = 9; }},
      {"current valuesB[0]", [](Tree& t) { t.views.current.valuesB[0] = 9; }},
      {"current valuesC[1]", [](Tree& t) { t.views.current.valuesC[1] = 9; }},
      {"current fieldOfView", [](Tree& t) { t.views.current.fieldOfView = 1; }},
      {"current aspect", [](Tree& t) { t.views.current.aspect = 1; }},
      {"current matrix[15]", [](Tree& t) { t.views.current.matrix[15] = 2; }},
      {"current near", [](Tree& t) { t.views.current.nearValue = 2; }},
      {"current far", [](Tree& t) { t.views.current.farValue = 2; }},
      {"current valuesD[2]", [](Tree& t) { t.views.current.valuesD[2] = 9; }},
      {"current valuesE[3]", [](Tree& t) { t.views.current.valuesE[3] = 9; }},
      {"current view point record",
       [](Tree& t) {
         t.views.current.viewPoint = RawFrame::WithPayload("0.5", {1, 2, 3, 4, 6});
       }},
      {"group count", [](Tree& t) { t.views.groups.emplace_back(); }},
      {"group 1 name", [](Tree& t) { t.views.groups[1].name = "Detail"; }},
      {"group 1 entry count", [](Tree& t) { t.views.groups[1].entries.emplace_back(); }},
      {"group 0 entry 1 name", [](Tree& t) { t.views.groups[0].entries[1].name = "top"; }},
      {"group 0 entry 1 record version",
       [](Tree& t) { t.views.groups[0].entries[1].storedVersion = "0.1"; }},
      {"action count", [](Tree& t) { t.views.actions.actions.pop_back(); }},
      {"action 0 type",
       [](Tree& t) { t.views.actions.actions[0] = std::make_unique<MoveAction>(); }},
      {"action 0 vector[1]", [](Tree& t) { Action<RotateAction>(t, 0).vector[1] = 1; }},
      {"action 0 amount", [](Tree& t) { Action<RotateAction>(t, 0).amount = 45; }},
      {"action 3 vector[0]", [](Tree& t) { Action<MoveAction>(t, 3).vector[0] = 1; }},
      {"action 3 amount", [](Tree& t) { Action<MoveAction>(t, 3).amount = 1; }},
      {"action 4 translation[2]",
       [](Tree& t) { Action<TransformAction>(t, 4).translation[2] = 1; }},
      {"action 4 rotation[3]", [](Tree& t) { Action<TransformAction>(t, 4).rotation[3] = 1; }},
      {"action 1 values", [](Tree& t) { Action<ApplyColorAction>(t, 1).values[2] = 1; }},
      {"action 2 text", [](Tree& t) { Action<PlayAudioAction>(t, 2).text = "ring.wav"; }},
      {"action 5 text", [](Tree& t) { Action<ApplyViewPointAction>(t, 5).text = "side"; }},
      {"action entry count", [](Tree& t) { t.views.actions.entries.emplace_back(); }},
      {"action entry 0", [](Tree& t) { t.views.actions.entries[0].state.fourth = 1; }},
      {"action entry 0", [](Tree& t) { t.views.actions.entries[0].bytes[1] = 9; }},
      {"action entry 0", [](Tree& t) { t.views.actions.entries[0].state.first[8] = 9; }},
      {"action entry 0", [](Tree& t) { t.views.actions.entries[0].state.second[11] = 9; }},
      {"action keyed triples",
       [](Tree& t) { t.views.actions.keyedTriples["key"][0].values[1] = 7; }},
      {"action text", [](Tree& t) { t.views.actions.text = "other"; }},
  };
  MoxDiff::DiffOptions options;
  options.versions = true;
  Tree left;
  Build(left);
  for (const auto& [field, change] : rows) {
    Tree right;
    Build(right);
    change(right);
    const MoxDiff::DiffResult result = MoxDiff::DiffModels({left, "a"}, {right, "b"}, options);
    EXPECT_EQ(FieldsFound(result),
              field.empty() ? std::vector<std::string>{} : std::vector<std::string>{field})
        << field;
    EXPECT_EQ(FieldsFound(result, true), std::vector<std::string>{}) << field;
  }
}

// A damaged tree is walked as moxinfo lists it: 7, a child of the root and the next sibling
// of 3, lies under 2 (/0/1), where the walk meets it first, and the root's link to it ends
// the root's child list; the tree equals itself. A tree deeper than the walk goes is refused.
TEST(DiffTree, ADamagedTreeIsWalkedAsTheListingWalksIt) {
  using TestSupport::LinkedTree;
  const auto sound = LinkedTree({{1, 0, 0, 2}, {2, 1, 7, 3}, {3, 2, 0, 0}, {7, 1, 0, 0}});
  const auto damaged = LinkedTree({{1, 0, 0, 2}, {2, 1, 7, 3}, {3, 2, 7, 0}, {7, 1, 0, 0}});
  const MoxDiff::DiffResult result =
      MoxDiff::DiffModels({*damaged, "a"}, {*sound, "b"}, MoxDiff::DiffOptions{});
  std::string found;
  for (const auto& node : result.nodes)
    for (const auto& d : node.differences)
      found += node.path + " " + d.field + ": " + d.left + " | " + d.right + "\n";
  EXPECT_EQ(found,
            "/ child list ends with: a link to a node reached before | no further link\n"
            "/0/1 node: Group \"\" | (none)\n"
            "/1 node: (none) | Group \"\"\n");
  EXPECT_TRUE(MoxDiff::DiffModels({*damaged, "a"}, {*damaged, "b"}, {}).nodes.empty());

  std::vector<std::array<std::uint32_t, 4>> chain;
  for (std::uint32_t i = 1; i <= 300; ++i) chain.push_back({i, i - 1, 0, i < 300 ? i + 1 : 0});
  const auto deep = LinkedTree(chain);
  try {
    MoxDiff::DiffModels({*deep, "a"}, {*deep, "b"}, MoxDiff::DiffOptions{});
    ADD_FAILURE() << "a tree deeper than 256 levels compared";
  } catch (const MoxDiff::DiffTrouble& e) {
    EXPECT_EQ(std::string(e.what()),
              "left file a: the node tree is damaged: deeper than 256 levels at node 258");
  }
}

}  // namespace
