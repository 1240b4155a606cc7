// Instance tags of geometry array names. The tag of a name is everything after its last
// 0x1E byte (empty when there is none or when that byte ends the name). The input at
// 1-based position k contributes the file suffix "F<k>" when suffixing is on.
//
//   plain tagging (T)     suffix inserted after the last 0x1E (appended with a 0x1E when
//                         the name has none); untagged arrays then take the smallest tag
//                         of their geometry, and the other tags become alternative names
//   auto-rename (R)       only already tagged names get the suffix in front of their tag
//   instance linking (L)  every alternative name becomes an array linked to its base name
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "merge/base_index.hpp"

namespace KivMox {
class Tree;
}

namespace MoxMerge {

inline constexpr char kTagSeparator = '\x1E';

// geometry identifier -> (array name -> alternative names)
using InstanceMap = std::map<std::uint32_t, std::map<std::string, std::vector<std::string>>>;

std::string InstanceTag(const std::string& name);
std::string FileSuffix(std::size_t position, bool suffix);

void TagPlain(KivMox::Tree& tree, std::size_t position, bool suffix, InstanceMap& instances);
void TagAutoRename(KivMox::Tree& tree, std::size_t position, bool suffix, InstanceMap& instances);
void LinkInstances(KivMox::Tree& base, const InstanceMap& instances, BaseIndex& index);

// The two inputs of a join as the command line names them, for the line that tells why
// a join fails.
struct JoinInputs {
  std::string base;     // the first input
  std::string further;  // the input being joined
};

// Both joins fail when B's geometry finds no node at its target in A, or a node of another
// kind while the join would take arrays from it: a line on stderr names both inputs and
// both nodes, then the join raises what GetReqNode raises for a missing identifier. A
// geometry that gives nothing is passed over when its target is of another kind.

// Appends every array of B's geometry to the geometry of equal identifier in A; a linked
// array is shifted by the array count its target geometry had before this join.
void JoinPlain(KivMox::Tree& base, KivMox::Tree& further, const JoinInputs& inputs);
// Appends the tagged arrays of B's geometry to the matching geometry of A (by identifier,
// or by name with matchPartNames). Links into arrays appended in the same join follow
// them; other links are dropped and the array keeps the data it shares.
void JoinAutoRename(KivMox::Tree& base, KivMox::Tree& further, bool matchPartNames,
                    const JoinInputs& inputs, BaseIndex& index);

}  // namespace MoxMerge
