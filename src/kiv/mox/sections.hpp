// The sections of a Mox file. Their physical order in the container does not matter.
//
//   "Heavy Data"          array values and node-set members
//   "Mox Tree"            i32 node count, then per node: u32 id, parent, previous sibling,
//                         next sibling, first child, last child; string name, type name,
//                         record version; light position (u64 for containers after 0.6,
//                         u32 before)
//   "Light Data"          per-node records, each at its node's light position
//   "Attributes"          attribute maps, in node order
//   "Resources"           shape materials, in node order
//   "Global Information"  the save history
//   "View Points"         the view points (absent when there are none)
#pragma once

namespace KivMox {

inline constexpr const char* kHeavyData = "Heavy Data";
inline constexpr const char* kMoxTree = "Mox Tree";
inline constexpr const char* kLightData = "Light Data";
inline constexpr const char* kAttributes = "Attributes";
inline constexpr const char* kResources = "Resources";

}  // namespace KivMox
