// The program's main line: command line, log set-up, input ordering, one merge, and the
// view point import.
#pragma once

namespace MoxMerge {

int RunMoxMerge(int argc, const char* const* argv);

}  // namespace MoxMerge
