// moxmerge [options] <files_to_merge> <output_file>
#include "merge/driver.hpp"

int main(int argc, char** argv) {
  return MoxMerge::RunMoxMerge(argc, argv);
}
