// moxmerge against the system: failing writes (a file size limit, SIGXFSZ ignored: EFBIG
// as on a full disk), signals while it writes, more inputs than it may open files.
#include <signal.h>

#include <gtest/gtest.h>

#include <thread>

#include "support/merge_fixtures.hpp"
#include "support/tree_description.hpp"

namespace {

using namespace AppTest;

// A merge of two moxsample models of several hundred KiB under a file size limit.
TEST(WriteFailure, LeavesNoFileAndKeepsTheOldOne) {
  TempDir inputs, out, logs;
  const std::string one = inputs.File("1.mox"), two = inputs.File("2.mox"),
                    output = out.File("merged.mox");
  for (const auto& [path, seed] : {std::pair{one, "1"}, {two, "2"}})
    ASSERT_EQ(
        Execute({"moxsample", {path, "--parts", "2", "--heavy-mib", "0.4", "--seed", seed}}).status,
        0);
  const auto merge = [&](rlim_t limit, Names env, const Names& args) {
    env.push_back("TESSARA_TEMP_PATH=" + logs.Path());
    Launch launch{"moxmerge", args, env};
    if (limit) launch.limits.push_back({RLIMIT_FSIZE, limit});
    return Process(launch).Wait(std::chrono::seconds(120));
  };
  // With heavy data blocks of 64 KiB, full blocks are written on the second thread while
  // the merge goes on, so the failing write happens there.
  for (const Names& env : {Names{}, Names{"KORVANE_MAX_MOX_BLOCK_SIZE=65536"}}) {
    const bool background = !env.empty();
    ASSERT_EQ(merge(0, env, {one, two, output}).status, 0);
    const auto size = static_cast<rlim_t>(ReadFileBytes(output).size());
    ASSERT_GT(size, 300000u);
    std::filesystem::remove(output);
    // The write fails in the first blocks or in the last one (the history, ~170 bytes whose
    // compressed size varies with the save time), with or without an earlier output.
    const Bytes previous = {'k', 'e', 'e', 'p', '\n'};
    for (rlim_t limit :
         background ? std::vector<rlim_t>{70000} : std::vector<rlim_t>{4096, size - 32}) {
      for (bool existing : {false, true}) {
        if (existing) WriteFileBytes(output, previous);
        auto run = merge(limit, env, {one, two, output});
        SCOPED_TRACE("limit " + std::to_string(limit) + (existing ? ", existing\n" : "\n") +
                     run.err);
        EXPECT_EQ(std::tuple(run.hung, run.signal, run.status), std::tuple(false, 0, 2));
        EXPECT_TRUE(Has(run.err, "Exception \"") && Has(run.err, "Description : "));
        EXPECT_TRUE(!background || Has(run.err, "Unable to write to file"));
        EXPECT_EQ(DirectoryEntries(out.Path()), existing ? Names{"merged.mox"} : Names{});
        EXPECT_EQ(ReadFileBytes(output), existing ? previous : Bytes{});
        std::filesystem::remove(output);
      }
    }
  }
  // An input that is also the output stays whole; the merge would be larger than it.
  const std::string input = out.File("a.mox");
  std::filesystem::copy_file(one, input);
  const Bytes before = ReadFileBytes(input);
  auto run = merge(static_cast<rlim_t>(before.size()), {}, {input, two, input});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_TRUE(Has(run.err, "Description : ")) << run.err;
  EXPECT_EQ(ReadFileBytes(input), before);
  EXPECT_EQ(DirectoryEntries(out.Path()), Names{"a.mox"});
}

// A signal once the temporary file exists removes it, ends the process and leaves the old
// output, also in the save that adds view points to the merged "<output>.temp" copy (which
// may stay); a merge started with SIGHUP ignored lives through one.
TEST(Interrupt, ASignalRemovesTheTemporaryFileAndEndsTheMergeUnlessIgnored) {
  TempDir dir, logs;
  const std::string input = dir.File("big.mox"), output = dir.File("out/out.mox");
  std::vector<float> values(6u << 20);  // that barely compress: writing takes a while
  std::uint32_t x = 12345;
  for (float& v : values) v = static_cast<float>((x = x * 1664525u + 1013904223u) >> 8);
  Model model("big");
  model.AddGeometry(1, "part", {FloatArray("noise", values)});
  model.Save(input);
  Model viewPoints("views");
  viewPoints.SetViews("now", {"V1"}, 5);
  viewPoints.Save(dir.File("v.vpt"));
  std::filesystem::create_directory(dir.File("out"));
  const Bytes old = {'o', 'l', 'd'};
  // The signal, whether it is ignored, whether the run has view point files.
  const std::tuple<int, bool, bool> cases[] = {{SIGINT, false, false},
                                               {SIGTERM, false, false},
                                               {SIGHUP, false, false},
                                               {SIGHUP, true, false},
                                               {SIGINT, false, true}};
  for (const auto& [sig, ignored, views] : cases) {
    WriteFileBytes(output, old);
    Launch launch{"moxmerge",
                  views ? Names{"--rewrite-blocks", input, input, dir.File("v.vpt"), output}
                        : Names{input, input, output},
                  {"TESSARA_TEMP_PATH=" + logs.Path()}};
    launch.ignoreHangup = ignored;
    Process merge(launch);
    bool started = false;  // the hidden temporary file of the save to out.mox is there
    for (int i = 0; i < 120000 && !started && !merge.Ended(); ++i) {
      for (const auto& name : DirectoryEntries(dir.File("out")))
        started = started || name.starts_with(".out.mox.moxsave-");
      if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(started) << "the run ended before it could be interrupted";
    if (started) kill(merge.Pid(), sig);
    const Outcome run = merge.Wait();
    SCOPED_TRACE(std::to_string(sig) + (ignored ? " ignored" : "") + (views ? " views" : ""));
    EXPECT_EQ(DirectoryEntries(dir.File("out")),
              (views ? Names{"out.mox", "out.mox.temp"} : Names{"out.mox"}));
    EXPECT_EQ(std::pair(run.signal, run.status), ignored ? std::pair(0, 0) : std::pair(sig, -1));
    EXPECT_TRUE(ignored ? ChildNames(*LoadTree(output), 1) == (Names{"big", "big"})
                        : ReadFileBytes(output) == old);
    EXPECT_TRUE(!views || ChildNames(*LoadTree(output + ".temp"), 1) == (Names{"big", "big"}));
  }
}

// Under a limit of 24 open files (8 left for inputs) the inputs are closed and opened
// again as the writer needs them; the output is the one written without the limit.
TEST(OpenFileLimit, FortyInputsMergeAsWithoutTheLimit) {
  TempDir dir, logs;
  Names args;
  for (int k = 1; k <= 40; ++k) {
    Model model("model", "Builder", std::to_string(k));
    model.AddGeometry(1, "partA", {IntArray("cells", {k, 1, 2}), FloatArray("field", Distinct(k))});
    model.AddGeometry(1, "partB", {FloatArray("temp", Distinct(k + 0.5f))});
    model.Save(args.emplace_back(dir.File("in" + std::to_string(k) + ".mox")));
  }
  std::string described[2];
  for (bool limited : {false, true}) {
    args.push_back(dir.File(limited ? "limited.mox" : "free.mox"));
    Launch launch{"moxmerge", args, {"TESSARA_TEMP_PATH=" + logs.Path()}};
    if (limited) launch.limits.push_back({RLIMIT_NOFILE, 24});
    const auto run = Execute(launch);
    ASSERT_EQ(run.status, 0) << run.err;
    described[limited] = FuzzDescription::DescribeTree(*LoadTree(args.back()));
    args.pop_back();
  }
  EXPECT_EQ(Count(described[0], " array="), 120u);
  EXPECT_TRUE(described[0] == described[1]) << "the outputs differ";
}

}  // namespace
