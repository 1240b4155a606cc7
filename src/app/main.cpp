// moxmerge [options] <files_to_merge> <output_file>
#include "app/driver.hpp"

int main(int argc, char** argv) {
  return MoxApp::RunMoxMerge(argc, argv);
}
