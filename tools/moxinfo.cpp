// moxinfo FILE [--blocks] [--json] [--help] [--version]
// Lists the content of a Mox file (src/app/info_command.hpp).
#include "app/info_command.hpp"

int main(int argc, char** argv) {
  return MoxApp::RunMoxInfo(argc, argv);
}
