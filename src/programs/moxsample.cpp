// moxsample OUT.mox [--parts N] [--heavy-mib M] [--seed S] [--view-points K]
// Writes a synthetic Mox model (src/sample/sample_model.hpp describes it).
#include "sample/sample_command.hpp"

int main(int argc, char** argv) {
  return MoxSample::RunMoxSample(argc, argv);
}
