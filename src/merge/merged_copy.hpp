// The merged copy "<output>.temp": with several Mox inputs and view point files, the merge
// is saved under that name and the view points are added to it on the way to the output,
// so that the output is replaced only once the whole run has succeeded. The copy stays on
// disk afterwards.
#pragma once

#include <string>
#include <vector>

namespace MoxMerge {

std::string MergedCopyPath(const std::string& output);

// Raises, before anything is read, when the merged copy cannot be written as a file of its
// own: its name is longer than the directory takes, it is one of the inputs (the same path,
// or the same device and inode), or what stands there is neither a file nor a symbolic link
// (which the copy replaces, never writing through it).
void CheckMergedCopy(const std::string& output, const std::vector<std::string>& inputs);

}  // namespace MoxMerge
