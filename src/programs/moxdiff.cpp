// moxdiff A B [options]
// Compares two Mox files as models (src/diff/diff_command.hpp).
#include "diff/diff_command.hpp"

int main(int argc, char** argv) {
  return MoxDiff::RunMoxDiff(argc, argv);
}
