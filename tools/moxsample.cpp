// moxsample OUT.mox [--parts N] [--heavy-mib M] [--seed S] [--view-points K]
// Writes a synthetic Mox model (src/app/sample_model.hpp describes it).
#include "app/sample_command.hpp"

int main(int argc, char** argv) {
  return MoxApp::RunMoxSample(argc, argv);
}
