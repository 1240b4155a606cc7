#include "support/model_builder.hpp"

#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

#include "kiv/mox/future_node.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/shape.hpp"

namespace TestSupport {

namespace {

template <class T>
void Fill(KivMox::GeometryArray& array, const std::vector<T>& values, std::uint8_t components) {
  std::uint8_t* p = array.data.Allocate(values.size() * 4);
  if (!values.empty()) std::memcpy(p, values.data(), values.size() * 4);
  array.data.componentCount = components;
}

template <class T>
KivMox::GeometryArray Filled(const std::string& name, std::uint32_t kind,
                             const std::vector<T>& values, std::uint8_t components) {
  KivMox::GeometryArray array;
  array.name = name, array.kind = kind;
  Fill(array, values, components);
  return array;
}

template <class T>
std::vector<T> ValuesOf(const KivMox::NumericArray& data) {
  std::vector<T> out(data.byteSize / 4);
  if (!out.empty() && data.Bytes()) std::memcpy(out.data(), data.Bytes(), out.size() * 4);
  return out;
}

KivMox::Tree::TreeEntry Entry(std::uint32_t id, std::uint32_t parent, std::uint32_t prev,
                              std::uint32_t next, std::uint32_t first, std::uint32_t last) {
  KivMox::Tree::TreeEntry e;
  e.id = id, e.parentId = parent, e.prevSiblingId = prev, e.nextSiblingId = next;
  e.firstChildId = first, e.lastChildId = last;
  return e;
}

std::string Hex(const std::uint8_t* p, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i)
    s += {"0123456789abcdef"[p[i] >> 4], "0123456789abcdef"[p[i] & 15]};
  return s;
}

void DescribeAttributes(std::ostream& out, const KivMox::AttributeMap& map) {
  using T = KivMox::AttributeType;
  for (const auto& [name, a] : map) {
    out << "    attr " << name << " type " << int(a.type) << " ";
    if (a.type == T::Int32)
      out << a.int32;
    else if (a.type == T::Float32)
      out << a.float32;
    else if (a.type == T::Text)
      out << a.text;
    else if (a.type == T::Value64)
      out << a.value64;
    out << "\n";
  }
}

}  // namespace

void FillInts(KivMox::GeometryArray& array, const std::vector<std::int32_t>& values,
              std::uint8_t components) {
  Fill(array, values, components);
}
void FillFloats(KivMox::GeometryArray& array, const std::vector<float>& values,
                std::uint8_t components) {
  Fill(array, values, components);
}
std::vector<std::int32_t> IntsOf(const KivMox::NumericArray& data) {
  return ValuesOf<std::int32_t>(data);
}
std::vector<float> FloatsOf(const KivMox::NumericArray& data) {
  return ValuesOf<float>(data);
}

KivMox::GeometryArray FloatArray(const std::string& name, const std::vector<float>& values,
                                 std::uint8_t components) {
  return Filled(name, 0, values, components);
}
KivMox::GeometryArray IntArray(const std::string& name, const std::vector<std::int32_t>& values,
                               std::uint8_t components) {
  return Filled(name, 5, values, components);
}
KivMox::GeometryArray LinkedArray(const std::string& name, std::uint32_t linkNode,
                                  std::uint32_t linkIndex) {
  KivMox::GeometryArray array;
  array.name = name, array.linked = 1, array.linkNode = linkNode, array.linkIndex = linkIndex;
  return array;
}

Model::Model(const std::string& rootName, const std::string& application,
             const std::string& version)
    : tree(application, version) {
  auto root = std::make_unique<KivMox::Group>();
  root->name = rootName;
  root->translation = {1.5f, -2.0f, 0.25f};
  root->attributes["Owner"] = KivMox::Attribute::MakeText(rootName);
  tree.SetEntryNode(tree.GetCurrentNode(), std::move(root));
}

std::uint32_t Model::Add(std::uint32_t parent, std::unique_ptr<KivMox::Node> node) {
  tree.SetCurrentId(parent);
  return tree.AppendChildNode(std::move(node));
}

std::uint32_t Model::AddShape(std::uint32_t parent, const std::string& name, float red) {
  auto shape = std::make_unique<KivMox::Shape>();
  shape->name = name;
  shape->material.colorA = {red, 0.5f, 0.25f, 1.0f};
  shape->material.valueE = -red;
  return Add(parent, std::move(shape));
}

std::uint32_t Model::AddGeometry(std::uint32_t parent, const std::string& name,
                                 std::vector<KivMox::GeometryArray> arrays) {
  auto geometry = std::make_unique<KivMox::Geometry>();
  geometry->name = name;
  geometry->arrays = std::move(arrays);
  return Add(parent, std::move(geometry));
}

std::uint32_t Model::AddNodeSets(std::uint32_t parent, const std::string& name,
                                 std::vector<KivMox::NodeSet> sets) {
  auto node = std::make_unique<KivMox::NodeSets>();
  node->name = name;
  node->sets = std::move(sets);
  node->count = static_cast<std::uint32_t>(node->sets.size());
  return Add(parent, std::move(node));
}

void Model::SetViews(const std::string& current, const std::vector<std::string>& groups,
                     std::uint32_t marker) {
  auto entry = [](const std::string& name, std::uint32_t m) {
    KivMox::ViewPointEntry e;
    e.name = name, e.valuesA = {m, m + 1, m + 2}, e.fieldOfView = 0.5f + float(m);
    e.matrix[5] = float(m) * 2.0f;
    return e;
  };
  tree.views.present = true;
  tree.views.current = entry(current, marker);
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const auto m = marker + 10 * std::uint32_t(g + 1);
    tree.views.groups.push_back(
        {groups[g], {entry(groups[g] + "/a", m), entry(groups[g] + "/b", m + 5)}});
  }
}

std::unique_ptr<KivMox::Tree> LoadTree(const std::string& path) {
  auto tree = std::make_unique<KivMox::Tree>();
  KivMox::Tree::IdentifierMap identifiers;
  tree->Load(path, identifiers);
  return tree;
}

std::vector<std::uint32_t> Children(const KivMox::Tree& tree, std::uint32_t id) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t c = tree.GetReqNode(id).firstChildId; c != 0 && out.size() <= tree.Size();
       c = tree.GetReqNode(c).nextSiblingId)
    out.push_back(c);
  return out;
}

void BuildRichTree(KivMox::Tree& tree) {
  // 1 root group; 2 part group (child of 1); 3 shape, 4 geometry, 5 geometry, 6 node sets,
  // 7 future node, 8 empty entry: children of 2.
  auto root = std::make_unique<KivMox::Group>();
  root->name = "Model";
  root->attributes["count"] = KivMox::Attribute::MakeInt(-42);
  root->attributes["scale"] = KivMox::Attribute::MakeFloat(2.5f);
  root->attributes["title"] = KivMox::Attribute::MakeText("Bracket assembly");
  root->attributes["stamp"] = KivMox::Attribute::MakeValue64(0x0123456789ABCDEFull);
  tree.SetEntryNode(Entry(1, 0, 0, 0, 2, 2), std::move(root));

  auto part = std::make_unique<KivMox::Group>();
  part->name = "Part A";
  part->translation = {1, 2, 3}, part->rotation = {0.5f, 0.5f, 0.5f, 0.5f}, part->scale = {2, 2, 2};
  tree.SetEntryNode(Entry(2, 1, 0, 0, 3, 8), std::move(part));

  auto shape = std::make_unique<KivMox::Shape>();
  shape->name = "Steel";
  shape->material.colorA = {0.1f, 0.2f, 0.3f, 1.0f};
  shape->material.valueE = 7.5f, shape->material.flagG = 0;
  tree.SetEntryNode(Entry(3, 2, 0, 4, 0, 0), std::move(shape));

  auto mesh = std::make_unique<KivMox::Geometry>();
  mesh->name = "Mesh A";
  auto& conn =
      mesh->arrays.emplace_back(IntArray("elements", {0, 1, 2, 2, 3, 0, 4, 5, 6, 7, 8, 9}, 3));
  conn.data.subKind = 2;
  std::vector<float> v;
  for (int i = 0; i < 30; ++i) v.push_back(0.25f * i - 3.0f);
  auto& stress = mesh->arrays.emplace_back(Filled("stress", 1, v, 3));
  stress.data.tagA = 3, stress.data.paramA = 77, stress.data.tagC = 9;
  stress.attributes["Unit"] = KivMox::Attribute::MakeText("MPa");
  auto& mode = mesh->arrays.emplace_back(Filled(
      "mode 1", KivMox::kUnpackedKind, std::vector<float>{1.5f, -2.5f, 3.25f, 0.0f, 9.0f}, 2));
  mode.vibration = 1;
  mode.attributes["Category"] = KivMox::Attribute::MakeText("Vibration");
  mesh->arrays.push_back(LinkedArray("stress copy", 4, 1));
  mesh->arrays.back().kind = 1;
  tree.SetEntryNode(Entry(4, 2, 3, 5, 0, 0), std::move(mesh));

  auto second = std::make_unique<KivMox::Geometry>();
  second->name = "Mesh B";
  second->arrays.push_back(LinkedArray("elements", 4, 0));
  second->arrays.back().kind = 4;
  second->arrays.push_back(Filled("temperature", 2, std::vector<float>{20, 21.5f, 23, 24.5f}, 1));
  tree.SetEntryNode(Entry(5, 2, 4, 6, 0, 0), std::move(second));

  auto sets = std::make_unique<KivMox::NodeSets>();
  sets->name = "Sets";
  sets->sets = {{"fixed", {{1, 2}, {3, 4}}}, {"load", {{5, 6}}}, {"", {}}};
  sets->count = 3;
  tree.SetEntryNode(Entry(6, 2, 5, 7, 0, 0), std::move(sets));

  auto future = std::make_unique<KivMox::FutureNode>();
  future->name = "From the future";
  tree.SetEntryNode(Entry(7, 2, 6, 8, 0, 0), std::move(future));
  tree.SetEntryNode(Entry(8, 2, 7, 0, 0, 0), nullptr);

  // History and view points.
  auto& first = tree.globalInfo.emplace_back();
  first.applicationName = "Solver", first.applicationVersion = "9.1", first.formatVersion = "1.3";
  first.saveTime = "Mon Jan 06 09:15:00 2025 UTC";
  KivMox::ViewPointEntry front;
  front.name = "front", front.valuesA = {1, 2, 3}, front.fieldOfView = 0.5f;
  front.viewPoint = KivMox::RawFrame::WithPayload("0.5", {1, 2, 3, 4, 5});
  KivMox::ViewPointEntry side = front;
  side.name = "side", side.flag = 0;
  tree.views.current = front;
  tree.views.groups = {{"Standard", {front, side}}, {"Details", {side}}};
  auto& actions = tree.views.actions.actions;
  auto* rotate = static_cast<KivMox::RotateAction*>(
      actions.emplace_back(std::make_unique<KivMox::RotateAction>()).get());
  rotate->vector = {0, 0, 1};
  rotate->amount = 90;
  static_cast<KivMox::ApplyColorAction*>(
      actions.emplace_back(std::make_unique<KivMox::ApplyColorAction>()).get())
      ->values = {255, 0, 0};
  static_cast<KivMox::PlayAudioAction*>(
      actions.emplace_back(std::make_unique<KivMox::PlayAudioAction>()).get())
      ->text = "beep.wav";
  auto& entry = tree.views.actions.entries.emplace_back();
  entry.first = "step 1", entry.values = {1, 2, 3}, entry.state.third = 5;
  tree.views.actions.keyedTriples["key"] = {KivMox::ActionTriple{{1, 2, 3}}};
  tree.views.actions.text = "script";
  tree.views.present = true;
}

std::string DescribeTree(const KivMox::Tree& tree, bool withHistory) {
  std::ostringstream out;
  out.precision(9);
  out << "nextId " << tree.NextId() << "\n";
  for (const auto& [id, e] : tree.Entries()) {
    out << "entry " << id << " parent " << e.parentId << " prev " << e.prevSiblingId << " next "
        << e.nextSiblingId << " first " << e.firstChildId << " last " << e.lastChildId << "\n";
    const KivMox::Node* node = e.data;
    if (!node) {
      out << "  (no node)\n";
      continue;
    }
    out << "  " << node->GetTypeName() << " " << node->GetVersion() << " '" << node->name << "'\n";
    if (const auto* g = KivMox::NodeAs<KivMox::Group>(node)) {
      for (float f : g->translation) out << " t" << f;
      for (float f : g->rotation) out << " r" << f;
      for (float f : g->scale) out << " s" << f;
      out << " mergeRoot " << int(g->mergeRoot) << "\n";
      DescribeAttributes(out, g->attributes);
    } else if (const auto* s = KivMox::NodeAs<KivMox::Shape>(node)) {
      const auto& m = s->material;
      for (float f : m.colorA) out << " a" << f;
      for (float f : m.colorB) out << " b" << f;
      for (int i = 0; i < 3; ++i) out << " c" << m.colorC[i] << " d" << m.colorD[i];
      out << " e" << m.valueE << " f" << m.valueF << " g" << int(m.flagG) << "\n";
    } else if (const auto* g = KivMox::NodeAs<KivMox::Geometry>(node)) {
      for (const auto& a : g->arrays) {
        const auto& d = a.data;
        out << "  array '" << a.name << "' kind " << a.kind << " vib " << int(a.vibration)
            << " linked " << int(a.linked) << " " << a.linkNode << ":" << a.linkIndex << " size "
            << d.byteSize << " c " << int(d.componentCount) << " sub " << d.subKind << " tags "
            << int(d.tagA) << "," << int(d.tagB) << "," << d.paramA << "," << d.paramB << ","
            << int(d.tagC) << " data "
            << (d.Bytes() ? Hex(d.Bytes(), std::size_t(d.byteSize)) : std::string("none")) << "\n";
        DescribeAttributes(out, a.attributes);
      }
    } else if (const auto* s = KivMox::NodeAs<KivMox::NodeSets>(node)) {
      out << "  count " << s->count << "\n";
      for (const auto& set : s->sets) {
        out << "  set '" << set.name << "'";
        for (const auto& [a, b] : set.members) out << " " << a << "/" << b;
        out << "\n";
      }
    }
  }
  if (withHistory)
    for (const auto& r : tree.globalInfo)
      out << "history '" << r.applicationName << "' '" << r.applicationVersion << "' '"
          << r.formatVersion << "' '" << r.computerName << "' '" << r.userName << "' '"
          << r.callerText << "'\n";
  out << "views " << tree.views.present << "\n";
  auto describeEntry = [&](const KivMox::ViewPointEntry& v) {
    out << "  vp '" << v.name << "' flag " << int(v.flag) << " fov " << v.fieldOfView << " a"
        << v.valuesA[0] << v.valuesA[1] << v.valuesA[2] << " frame "
        << Hex(v.viewPoint.bytes.data(), v.viewPoint.bytes.size()) << "\n";
  };
  if (tree.views.present) {
    describeEntry(tree.views.current);
    for (const auto& g : tree.views.groups) {
      out << " group '" << g.name << "'\n";
      for (const auto& v : g.entries) describeEntry(v);
    }
    const auto& actions = tree.views.actions;
    out << " actions " << actions.actions.size() << " entries " << actions.entries.size()
        << " keys " << actions.keyedTriples.size() << " text '" << actions.text << "'\n";
    for (const auto& a : actions.actions) out << "  action " << a->GetTypeCode() << "\n";
  }
  return out.str();
}

KivMox::Geometry& GeometryAt(KivMox::Tree& tree, std::uint32_t id) {
  auto* geometry = KivMox::NodeAs<KivMox::Geometry>(tree.GetNode(id));
  if (!geometry) {
    ADD_FAILURE() << "no geometry at " << id;
    static KivMox::Geometry none;
    return none;
  }
  return *geometry;
}

}  // namespace TestSupport
