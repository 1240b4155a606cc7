// A plain file copy that replaces the destination.
#pragma once

#include <string>

namespace MoxMerge {

// Copies source to destination, replacing an existing file. Returns false (and leaves no
// partial destination) when anything fails.
bool CopyFile(const std::string& source, const std::string& destination);

}  // namespace MoxMerge
