#include "support/model_builder.hpp"

#include <sstream>

#include "kiv/mox/future_node.hpp"
#include "kiv/mox/shape.hpp"

namespace TestSupport {

std::unique_ptr<KivMox::Tree> LinkedTree(const std::vector<std::array<std::uint32_t, 4>>& entries) {
  auto tree = std::make_unique<KivMox::Tree>();
  for (const auto& [id, parent, next, first] : entries) {
    KivMox::Tree::TreeEntry e;
    e.id = id, e.parentId = parent == 0xFF ? 1 : parent, e.nextSiblingId = next;
    e.firstChildId = first;
    tree->SetEntryNode(e, parent == 0xFF ? nullptr : std::make_unique<KivMox::Group>());
  }
  return tree;
}

void BuildRichTree(KivMox::Tree& tree) {
  // 1 root group; 2 part group (child of 1); 3 shape, 4 geometry, 5 geometry, 6 node sets,
  // 7 future node, 8 empty entry: children of 2. Links: id, parent, prev, next, first, last.
  using KivMox::Attribute;
  auto root = Detail::Named<KivMox::Group>("Model");
  root->attributes["count"] = Attribute::MakeInt(-42);
  root->attributes["scale"] = Attribute::MakeFloat(2.5f);
  root->attributes["title"] = Attribute::MakeText("Bracket assembly");
  root->attributes["stamp"] = Attribute::MakeValue64(0x0123456789ABCDEFull);
  tree.SetEntryNode({1, 0, 0, 0, 2, 2, nullptr}, std::move(root));
  auto part = Detail::Named<KivMox::Group>("Part A");
  part->translation = {1, 2, 3}, part->rotation = {0.5f, 0.5f, 0.5f, 0.5f}, part->scale = {2, 2, 2};
  tree.SetEntryNode({2, 1, 0, 0, 3, 8, nullptr}, std::move(part));
  auto shape = Detail::Named<KivMox::Shape>("Steel");
  shape->material.colorA = {0.1f, 0.2f, 0.3f, 1.0f};
  shape->material.valueE = 7.5f, shape->material.flagG = 0;
  tree.SetEntryNode({3, 2, 0, 4, 0, 0, nullptr}, std::move(shape));

  auto mesh = Detail::Named<KivMox::Geometry>("Mesh A");
  auto& arrays = mesh->arrays;
  arrays.push_back(IntArray("elements", {0, 1, 2, 2, 3, 0, 4, 5, 6, 7, 8, 9}, 3));
  arrays[0].data.subKind = 2;
  std::vector<float> v;
  for (int i = 0; i < 30; ++i) v.push_back(0.25f * i - 3.0f);
  arrays.push_back(ArrayOf("stress", 1, v, 3));
  arrays[1].data.tagA = 3, arrays[1].data.paramA = 77, arrays[1].data.tagC = 9;
  arrays[1].attributes["Unit"] = Attribute::MakeText("MPa");
  arrays.push_back(ArrayOf("mode 1", KivMox::kUnpackedKind,
                           std::vector<float>{1.5f, -2.5f, 3.25f, 0.0f, 9.0f}, 2));
  arrays[2].vibration = 1, arrays[2].attributes["Category"] = Attribute::MakeText("Vibration");
  arrays.push_back(LinkedArray("stress copy", 4, 1, 1));
  tree.SetEntryNode({4, 2, 3, 5, 0, 0, nullptr}, std::move(mesh));
  auto second = Detail::Named<KivMox::Geometry>("Mesh B");
  second->arrays = {LinkedArray("elements", 4, 0, 4),
                    ArrayOf("temperature", 2, std::vector<float>{20, 21.5f, 23, 24.5f})};
  tree.SetEntryNode({5, 2, 4, 6, 0, 0, nullptr}, std::move(second));
  auto sets = Detail::Named<KivMox::NodeSets>("Sets");
  sets->sets = {{"fixed", {{1, 2}, {3, 4}}}, {"load", {{5, 6}}}, {"", {}}}, sets->count = 3;
  tree.SetEntryNode({6, 2, 5, 7, 0, 0, nullptr}, std::move(sets));
  tree.SetEntryNode({7, 2, 6, 8, 0, 0, nullptr},
                    Detail::Named<KivMox::FutureNode>("From the future"));
  tree.SetEntryNode({8, 2, 7, 0, 0, 0, nullptr}, nullptr);

  auto& first = tree.globalInfo.emplace_back();
  first.applicationName = "Solver", first.applicationVersion = "9.1", first.formatVersion = "1.3";
  first.saveTime = "Mon Jan 06 09:15:00 2025 UTC";
  KivMox::ViewPointEntry front;
  front.name = "front", front.valuesA = {1, 2, 3}, front.fieldOfView = 0.5f;
  front.viewPoint = KivMox::RawFrame::WithPayload("0.5", {1, 2, 3, 4, 5});
  KivMox::ViewPointEntry side = front;
  side.name = "side", side.flag = 0;
  tree.views.present = true, tree.views.current = front;
  tree.views.groups = {{"Standard", {front, side}}, {"Details", {side}}};
  auto& actions = tree.views.actions;
  auto rotate = std::make_unique<KivMox::RotateAction>();
  rotate->vector = {0, 0, 1}, rotate->amount = 90;
  auto colour = std::make_unique<KivMox::ApplyColorAction>();
  colour->values = {255, 0, 0};
  auto audio = std::make_unique<KivMox::PlayAudioAction>();
  audio->text = "beep.wav";
  actions.actions.push_back(std::move(rotate)), actions.actions.push_back(std::move(colour));
  actions.actions.push_back(std::move(audio));
  auto& entry = actions.entries.emplace_back();
  entry.first = "step 1", entry.values = {1, 2, 3}, entry.state.third = 5;
  actions.keyedTriples["key"] = {KivMox::ActionTriple{{1, 2, 3}}}, actions.text = "script";
}

}  // namespace TestSupport
