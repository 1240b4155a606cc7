// View point files (".vpt"): containers of which only the header's version and the
// "View Points" section count. A file is read whole before anything is added to a tree, so
// that a damaged one changes nothing and can fail a run before its merge starts.
#pragma once

#include <string>

#include "kiv/mox/safe_output.hpp"
#include "kiv/mox/view_points.hpp"

namespace KivMox {

struct ViewPointFile {
  std::string path;
  FileIdentity identity;
  // present false when the file adds nothing: container version "0.1", or no "View
  // Points" section (a container saved without view points).
  ViewPoints views;
};

// Reads the view points of a view point file. Raises when the file cannot be opened or is
// not a container (the load's own texts), and code 9 naming the file when its block table
// or its "View Points" section, actions included, cannot be read whole.
ViewPointFile ReadViewPointFile(const std::string& path);

// Adds the view points read from a file to views, as reading them into views would: the
// current view point is replaced, groups are appended after those present, the action
// collection takes the entries, keyed triples and text read and appends the actions.
void AppendViewPoints(ViewPoints& views, ViewPoints&& read);

}  // namespace KivMox
