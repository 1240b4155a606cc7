// The three operations the driver runs. Each builds its own tree, catches every
// standard exception at its top, prints the exception's text and a line end on stderr,
// and returns 0 on success or 2 on failure.
#pragma once

#include <string>
#include <vector>

#include "kiv/mox/view_point_file.hpp"

namespace MoxMerge {

// Hangs the complete tree of every input, in order, under a new root group "Merge".
// adoptBlocks: heavy blocks of the inputs go to the output as they are stored where they
// can (KivMox::Tree::SetBlockAdoption); otherwise every block is written anew.
// replaceLink: a symbolic link at the output path is replaced, not written through (the
// merged copy "<output>.temp" of a run with view point files).
int MergeFiles(const std::vector<std::string>& inputs, const std::string& output,
               bool adoptBlocks = true, bool replaceLink = false);

// Appends the geometry arrays of every further input, tagged with its position, to the
// matching geometry nodes of the first input (adoptBlocks and replaceLink as for
// MergeFiles: the tagging renames arrays and links instances in light data only, so each
// input's blocks can go to the output as they are stored).
int MergeAsInstances(const std::vector<std::string>& inputs, const std::string& output, bool suffix,
                     bool autoRename, bool matchPartNames, bool adoptBlocks = true,
                     bool replaceLink = false);

// Every input after the first: the ones a merge opens ahead (KivMox::InputPrefetch).
inline std::vector<std::string> LaterInputs(const std::vector<std::string>& inputs) {
  return inputs.empty() ? inputs : std::vector<std::string>(inputs.begin() + 1, inputs.end());
}

// Loads start, adds the view points of every view point file, and saves under output
// (adoptBlocks as for MergeFiles).
int ImportViewPoints(const std::string& start, const std::vector<std::string>& viewPointFiles,
                     const std::string& output, bool adoptBlocks = true);
// Reads every view point file (KivMox::ReadViewPointFile); false, with the failure's text
// printed, when one cannot be read.
bool ReadViewPointFiles(const std::vector<std::string>& paths,
                        std::vector<KivMox::ViewPointFile>& files);
// The import with the view point files read before.
int ImportViewPoints(const std::string& start, std::vector<KivMox::ViewPointFile> viewPoints,
                     const std::string& output, bool adoptBlocks = true);

}  // namespace MoxMerge
