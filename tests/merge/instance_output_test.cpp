// Where an instance merge may not write: no input is ever the output written in place, the
// later inputs (read by the base's save) included.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "merge/merge_operations.hpp"
#include "support/merge_fixtures.hpp"

namespace {

using namespace AppTest;

// As an unprivileged user: the directory refuses new files, so an output that the user may
// write would be truncated and written in place, unless it is an input.
TEST(InstanceOutputTest, NoInputIsWrittenInPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  const uid_t nobody = 65534;
  TempDir dir;
  chmod(dir.Path().c_str(), 0755);
  Model model("model");
  model.AddGeometry(1, "part", {FloatArray("stress", Distinct(1.0f, 3000))});
  const std::string a = dir.File("a.mox"), b = dir.File("b.mox");
  model.Save(a);
  model.Save(b);
  ASSERT_EQ(chown(a.c_str(), nobody, nobody) | chown(b.c_str(), nobody, nobody), 0);
  for (const std::string& output : {a, b}) {
    const auto before = ReadFileBytes(output);
    SCOPED_TRACE(output);
    const int status = InChild([&] {
      return setgid(nobody) == 0 && setuid(nobody) == 0
                 ? MoxMerge::MergeAsInstances({a, b}, output, true, false, false)
                 : 99;
    });
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2);
    EXPECT_EQ(ReadFileBytes(output), before);
  }
}

}  // namespace
