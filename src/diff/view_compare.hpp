// Comparing the view points of two files: whether they have any, the current view point,
// the groups with their entries, and the action collection (actions one by one, entries,
// keyed triples and text); with versions also the versions the view point entries were
// read under.
#pragma once

#include "diff/fields.hpp"
#include "kiv/mox/view_points.hpp"

namespace MoxDiff {

void CompareViewPoints(const KivMox::ViewPoints& left, const KivMox::ViewPoints& right,
                       bool versions, Fields& fields);

}  // namespace MoxDiff
