// The parts of the sample model besides the node tree: the save history written before
// this one and the view points with their actions (sample_model.hpp).
#pragma once

#include <cstdint>
#include <vector>

#include "kiv/mox/global_info.hpp"
#include "kiv/mox/view_points.hpp"

namespace MoxSample {

class SampleRandom;

// One or two earlier saves, oldest first, with fixed times.
std::vector<KivMox::GlobalInfoRecord> SampleHistory(SampleRandom& random);
// The current view, groups view point groups of two to four entries, and an action
// collection holding every action kind, entries and keyed triples.
void FillSampleViewPoints(KivMox::ViewPoints& views, std::uint32_t groups, SampleRandom& random);

}  // namespace MoxSample
