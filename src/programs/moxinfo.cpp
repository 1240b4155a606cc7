// moxinfo FILE [--blocks] [--json] [--help] [--version]
// Lists the content of a Mox file (src/info/info_command.hpp).
#include "info/info_command.hpp"

int main(int argc, char** argv) {
  return MoxInfo::RunMoxInfo(argc, argv);
}
