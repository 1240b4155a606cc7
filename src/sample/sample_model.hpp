// The sample model that moxsample writes: a synthetic but complete Mox model for tests,
// benchmarks and demonstrations. Its tree:
//
//   1  Group "Sample Model"            attributes of all four types
//        Group "Part k"                (k = 1..parts) attributes
//          Shape "Part k Surface"      material colours drawn from the seed
//          Geometry "Part k Mesh"      arrays, in this order:
//            0 "Coordinates"                 kind 0, 3 components, floats
//            1 "Quadrilaterals"              kind 5, 4 components, node indices
//            2 "Triangles"                   kind 4, 3 components, node indices
//            3 "Base Coordinates"            linked to array 0 of part 1's geometry (part 1
//                                            itself links to its own array 0)
//            4 "Mode Shape<RS>Mode 1"        kind 1, 3 components, "Category" "Vibration"
//            5.. "Displacement<RS>Step s"    kind 1, 3 components  } one pair per step
//                "Stress<RS>Step s"          kind 1, 1 component   }
//        NodeSets "Node Sets"          members are (geometry identifier, node index)
//
// (<RS> is the tag separator byte 0x1E.) The view points hold a current view, the
// requested number of groups and an action collection with every action kind; the
// history holds one or two earlier saves. All of it is a function of the options alone:
// the only varying bytes of a written file are those of the record that the save adds.
//
// The save takes array values from memory, so the whole model's values (about
// --heavy-mib MiB) are held until it is written; each value is generated straight into
// its array's buffer and never copied.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace KivMox {
class Tree;
}

namespace MoxSample {

inline constexpr const char* kSampleApplicationName = "MoxSample";
inline constexpr const char* kSampleApplicationVersion = "2017 R1";

struct SampleOptions {
  std::uint32_t parts = 3;
  double heavyMib = 1.0;  // MiB of array values in the whole model, spread over the parts
  std::uint64_t seed = 1;
  std::uint32_t viewPointGroups = 2;
};

std::unique_ptr<KivMox::Tree> BuildSampleModel(const SampleOptions& options);
// Builds the model and saves it (KivMox::Tree::Save).
void WriteSampleModel(const std::string& path, const SampleOptions& options);

}  // namespace MoxSample
