// Building the sample model (layout in sample_model.hpp).
#include "sample/sample_model.hpp"

#include <algorithm>
#include <string>

#include "kiv/mox/geometry.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/shape.hpp"
#include "kiv/mox/tree.hpp"
#include "sample/sample_extras.hpp"
#include "sample/sample_mesh.hpp"
#include "sample/sample_random.hpp"

namespace MoxSample {

namespace {

constexpr char kTagSeparator = '\x1E';
constexpr std::uint32_t kResultKind = 1;
constexpr std::uint32_t kQuadKind = 5;
constexpr std::uint32_t kTriangleKind = 4;

struct PartRecord {
  std::uint32_t geometryId = 0;
  PartGrid grid;
};

KivMox::GeometryArray MakeArray(const std::string& name, std::uint32_t kind,
                                KivMox::NumericArray data) {
  KivMox::GeometryArray array;
  array.name = name;
  array.kind = kind;
  array.data = std::move(data);
  return array;
}

std::unique_ptr<KivMox::Group> RootGroup(const SampleOptions& options) {
  auto root = std::make_unique<KivMox::Group>();
  root->name = "Sample Model";
  root->attributes["Created By"] = KivMox::Attribute::MakeText(kSampleApplicationName);
  root->attributes["Model Units"] = KivMox::Attribute::MakeText("mm");
  root->attributes["Part Count"] =
      KivMox::Attribute::MakeInt(static_cast<std::int32_t>(options.parts));
  root->attributes["Scale Factor"] = KivMox::Attribute::MakeFloat(1.0f);
  root->attributes["Seed"] = KivMox::Attribute::MakeValue64(options.seed);
  return root;
}

std::unique_ptr<KivMox::Group> PartGroup(std::uint32_t part, SampleRandom& random) {
  auto group = std::make_unique<KivMox::Group>();
  group->name = "Part " + std::to_string(part + 1);
  group->translation = {static_cast<float>(part) * 200.0f, 0, 0};
  group->attributes["Part Index"] = KivMox::Attribute::MakeInt(static_cast<std::int32_t>(part));
  group->attributes["Thickness"] = KivMox::Attribute::MakeFloat(random.RangeF(0.5f, 5.0f));
  group->attributes["Part Id"] = KivMox::Attribute::MakeValue64(random.Next());
  return group;
}

std::unique_ptr<KivMox::Shape> PartShape(std::uint32_t part, SampleRandom& random) {
  auto shape = std::make_unique<KivMox::Shape>();
  shape->name = "Part " + std::to_string(part + 1) + " Surface";
  KivMox::Material& m = shape->material;
  m.colorA = {random.RangeF(0.2f, 0.95f), random.RangeF(0.2f, 0.95f), random.RangeF(0.2f, 0.95f),
              1};
  m.colorB = {random.RangeF(0.1f, 0.6f), random.RangeF(0.1f, 0.6f), random.RangeF(0.1f, 0.6f), 1};
  m.colorC = {0, 0, 0, 0};
  for (std::size_t i = 0; i < 4; ++i) m.colorD[i] = 0.2f * m.colorA[i];
  m.valueE = random.RangeF(0.0f, 1.0f);
  return shape;
}

// Fills the arrays of a part's geometry (the list in sample_model.hpp).
void FillGeometry(KivMox::Geometry& geometry, const PartFields& fields, const PartGrid& grid,
                  const KivMox::Tree& tree, std::uint32_t baseGeometryId) {
  auto& arrays = geometry.arrays;
  arrays.push_back(MakeArray("Coordinates", 0, fields.Coordinates()));
  arrays.back().attributes["Unit"] = KivMox::Attribute::MakeText("mm");
  arrays.push_back(MakeArray("Quadrilaterals", kQuadKind, fields.Quadrilaterals()));
  arrays.push_back(MakeArray("Triangles", kTriangleKind, fields.Triangles()));

  // Shares the data of the base part's coordinates, as loading a file would.
  const auto* base = static_cast<const KivMox::Geometry*>(tree.GetNode(baseGeometryId));
  KivMox::GeometryArray link =
      MakeArray("Base Coordinates", 0, base ? base->arrays[0].data : arrays[0].data);
  link.linked = 1;
  link.linkNode = baseGeometryId;
  link.linkIndex = 0;
  arrays.push_back(std::move(link));

  KivMox::GeometryArray mode = MakeArray(std::string("Mode Shape") + kTagSeparator + "Mode 1",
                                         kResultKind, fields.ModeShape());
  mode.attributes["Category"] = KivMox::Attribute::MakeText("Vibration");
  mode.attributes["Frequency"] = KivMox::Attribute::MakeFloat(fields.Frequency());
  mode.vibration = 1;
  arrays.push_back(std::move(mode));

  for (std::uint32_t step = 0; step < grid.steps; ++step) {
    const std::string tag = std::string(1, kTagSeparator) + "Step " + std::to_string(step + 1);
    const float time = static_cast<float>(step + 1) / static_cast<float>(grid.steps);
    arrays.push_back(MakeArray("Displacement" + tag, kResultKind, fields.Displacement(step)));
    arrays.back().attributes["Unit"] = KivMox::Attribute::MakeText("mm");
    arrays.back().attributes["Time"] = KivMox::Attribute::MakeFloat(time);
    arrays.push_back(MakeArray("Stress" + tag, kResultKind, fields.Stress(step)));
    arrays.back().attributes["Unit"] = KivMox::Attribute::MakeText("MPa");
    arrays.back().attributes["Step"] =
        KivMox::Attribute::MakeInt(static_cast<std::int32_t>(step + 1));
  }
}

std::unique_ptr<KivMox::NodeSets> SampleNodeSets(const std::vector<PartRecord>& parts,
                                                 SampleRandom& random) {
  auto node = std::make_unique<KivMox::NodeSets>();
  node->name = "Node Sets";
  // The clamped edge (row 0) of the first part.
  KivMox::NodeSet fixed{"Fixed Edge", {}};
  for (std::uint32_t c = 0; c < parts[0].grid.columns; ++c)
    fixed.members.emplace_back(parts[0].geometryId, c);
  // A patch of up to 4 x 4 nodes on the last part.
  const PartRecord& last = parts.back();
  KivMox::NodeSet patch{"Load Patch", {}};
  const std::uint32_t c0 = random.Between(0, last.grid.columns - 2);
  const std::uint32_t r0 = random.Between(0, last.grid.rows - 2);
  for (std::uint32_t r = r0; r < std::min(r0 + 4, last.grid.rows); ++r)
    for (std::uint32_t c = c0; c < std::min(c0 + 4, last.grid.columns); ++c)
      patch.members.emplace_back(last.geometryId, r * last.grid.columns + c);
  // A few sensor nodes anywhere.
  KivMox::NodeSet sensors{"Sensors", {}};
  const std::uint32_t count = random.Between(3, 8);
  for (std::uint32_t i = 0; i < count; ++i) {
    const PartRecord& part = parts[random.Below(parts.size())];
    sensors.members.emplace_back(part.geometryId,
                                 static_cast<std::uint32_t>(random.Below(part.grid.Nodes())));
  }
  node->sets = {std::move(fixed), std::move(patch), std::move(sensors)};
  node->count = static_cast<std::uint32_t>(node->sets.size());
  return node;
}

}  // namespace

std::unique_ptr<KivMox::Tree> BuildSampleModel(const SampleOptions& options) {
  SampleRandom random(options.seed);
  auto tree = std::make_unique<KivMox::Tree>(kSampleApplicationName, kSampleApplicationVersion);
  tree->globalInfo = SampleHistory(random);

  KivMox::Tree::TreeEntry rootEntry;
  rootEntry.id = 1;
  tree->SetEntryNode(rootEntry, RootGroup(options));

  const std::uint32_t parts = std::max<std::uint32_t>(options.parts, 1);
  const double partBytes = options.heavyMib * 1048576.0 / parts;
  std::vector<PartRecord> records;
  for (std::uint32_t part = 0; part < parts; ++part) {
    tree->SetCurrentId(1);
    const std::uint32_t groupId = tree->AppendChildNode(PartGroup(part, random));
    tree->AppendChildNode(PartShape(part, random));
    tree->SetCurrentId(groupId);
    auto geometry = std::make_unique<KivMox::Geometry>();
    geometry->name = "Part " + std::to_string(part + 1) + " Mesh";
    KivMox::Geometry& filled = *geometry;
    PartRecord record;
    record.geometryId = tree->AppendChildNode(std::move(geometry));
    record.grid = PlanPartGrid(partBytes);
    const PartFields fields(record.grid, static_cast<float>(part) * 200.0f, random);
    const std::uint32_t base = records.empty() ? record.geometryId : records[0].geometryId;
    FillGeometry(filled, fields, record.grid, *tree, base);
    records.push_back(record);
  }
  tree->SetCurrentId(1);
  tree->AppendChildNode(SampleNodeSets(records, random));
  FillSampleViewPoints(tree->views, options.viewPointGroups, random);
  return tree;
}

void WriteSampleModel(const std::string& path, const SampleOptions& options) {
  BuildSampleModel(options)->Save(path);
}

}  // namespace MoxSample
