// moxmerge run as a user runs it: its exit statuses and error texts, where options may
// stand, input ordering, an output that names one of its inputs, and what the plain merge
// writes: every input's tree under one root group "Merge", identifiers shifted input after
// input, values and links carried exactly, and the first input's history and view points.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "merge/command_line.hpp"
#include "merge/merge_fixtures.hpp"

namespace {

using namespace AppTest;

// A model with one geometry whose array holds values that tell the inputs apart.
void WriteSmallModel(const std::string& path, const std::string& rootName, float seed) {
  Model model(rootName);
  model.AddGeometry(1, "partA", {FloatArray("stress", Distinct(seed))});
  model.Save(path);
}

// Every failed run prints one error text, leaves the output directory as it was (an
// earlier output included) and writes no trace log when the command line is refused.
TEST(MoxMergeRun, ExitStatusesAndErrorTexts) {
  TempDir dir, logs;
  const auto F = [&](const std::string& name) { return dir.File(name); };
  const std::string a = F("a.mox"), b = F("b.mox"), p = F("p.vpt"), O = F("out/out.mox");
  WriteSmallModel(a, "model-a", 1);
  WriteSmallModel(b, "model-b", 2);
  Model views("views");
  views.SetViews("p-now", {"P1"}, 300);
  views.Save(p);
  std::filesystem::create_directories(F("out/taken/inside"));
  std::filesystem::create_directory(F("folder.mox"));
  std::filesystem::copy_file(b, O);
  const Bytes earlier = ReadFileBytes(O);
  WriteFileBytes(F("junk.mox"), Bytes(200, 0x41));
  WriteFileBytes(F("text.mox"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
  WriteFileBytes(F("q.VPT"), Bytes(64, 0x20));
  WriteFileBytes(F("text.vpt"), Bytes(40, 'x'));
  WriteFileBytes(F("plain"), {'x'});
  ASSERT_EQ(symlink(F("nowhere.mox").c_str(), F("dangling.mox").c_str()), 0);
  for (const char* fifo : {"fifo.mox", "fifo.vpt", "fifo"})
    ASSERT_EQ(mkfifo(F(fifo).c_str(), 0600), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(mknod(F("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  }
  const std::string device = root ? F("null") : "/dev/null";
  const std::string usage = MoxMerge::UsageLine(BinPath("moxmerge")) + "\n",
                    m = "--merge-as-instances", opening = "Unable to open file \"";
  struct Case {
    Names args;
    int status;
    std::string err;  // all of it (less the log line) when it ends a line, else a part
    std::string out = "";
    Names env = {};
  };
  std::vector<Case> cases = {
      {{a, O}, 1, usage},
      {{m, "--arrange-files", "--suffix-file-instance"}, 1, usage},
      {{}, 1, usage},
      {{"--x", O}, 1, usage},
      {{a, m, O, "--"}, 1, usage},
      {{"--help"}, 0, "", MoxMerge::HelpText(BinPath("moxmerge"))},
      {{"--version"}, 0, "", "MoxMerge 2017 R1\n"},
      {{p, F("q.vpt"), O}, 4, "No Mox files found. \n"},
      {{a, F("missing.mox"), O}, 2, opening + F("missing.mox")},
      {{F("missing.mox"), a, O}, 2, opening + F("missing.mox")},
      {{a, F("junk.mox"), O}, 2, F("junk.mox") + " is not a Mox file"},
      {{a, F("junk.mox"), O, m}, 2, F("junk.mox")},
      {{a, F("text.mox"), O}, 2, F("text.mox") + " is not a Mox file"},
      {{a, F("q.VPT"), O}, 2, F("q.VPT") + " is not a Mox file"},
      {{a, b, F("out/no/such/dir/out.mox")}, 2, "Exception \""},
      {{a, b, F("out/taken")}, 2, "Exception \""},
      {{a, b, F("out/taken"), m}, 2, "Exception \""},
      // A failed merge leaves no new output to add view points to.
      {{a, F("missing.mox"), p, O}, 2, opening},
      {{a, F("missing.mox"), p, O, m}, 2, opening},
      {{a, p, F("missing.vpt"), O}, 2, F("missing.vpt")},
      {{a, p, F("text.vpt"), O}, 2, F("text.vpt")},
      {{a, F("fifo.vpt"), O}, 2, "Exception \""},
      // A FIFO is refused before any input is read; a device is written as it stands,
      // unless the merged output must be read back to add view points.
      {{F("missing1.mox"), F("missing2.mox"), F("fifo")},
       2,
       "\"" + F("fifo") + "\": a FIFO or a socket cannot hold a Mox file"},
      {{a, b, F("missing.vpt"), device}, 2, "a device cannot be read back"},
      {{a, b, device}, 0, ""},
      {{a, b, device, m}, 0, ""},
      {{a, b, device},
       0,
       "Unable to set log file.Log information will be discorded.\n",
       "",
       {"TESSARA_TEMP_PATH=" + logs.File("no/such/directory")}},
  };
  // Inputs that exist but cannot be read, first and second.
  for (const std::string& bad :
       {F("folder.mox"), F("plain/below.mox"), F("dangling.mox"), F("fifo.mox")}) {
    cases.push_back({{bad, a, O}, 2, opening + bad + "\""});
    cases.push_back({{a, bad, O}, 2, opening + bad + "\""});
  }
  const Names entries = DirectoryEntries(dir.Path());
  for (const Case& c : cases) {
    const auto run = RunMoxMerge(logs, c.args, c.env);
    SCOPED_TRACE(::testing::PrintToString(c.args) + "\n" + run.err);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    if (c.err.empty() || c.err.back() == '\n')
      EXPECT_EQ(ErrorsOf(run), c.err);
    else
      EXPECT_TRUE(Has(ErrorsOf(run), c.err));
    EXPECT_EQ(Count(run.err, "Exception \""), c.status == 2 ? 1u : 0u);
    EXPECT_EQ(Has(run.err, "Writing log to \"" + logs.File("MoxMerge_trace.log")),
              c.status != 1 && c.out.empty() && c.env.empty());
    EXPECT_EQ(DirectoryEntries(dir.Path()), entries);
    EXPECT_EQ(DirectoryEntries(F("out")), (Names{"out.mox", "taken"}));
    EXPECT_EQ(DirectoryEntries(F("out/taken")), Names{"inside"});
    EXPECT_EQ(ReadFileBytes(O), earlier);
  }
  struct stat st;
  EXPECT_TRUE(lstat(F("fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
  EXPECT_TRUE(lstat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode));
}

TEST(MoxMergeRun, ArrangedOrderInstancesAfterTheOutputAndAnOutputThatReplacesAnInput) {
  TempDir dir, logs;
  const std::string a = dir.File("a.mox"), b = dir.File("b.mox"), out = dir.File("out.mox");
  WriteSmallModel(a, "model-a", 1);
  WriteSmallModel(b, "model-b", 2);
  for (int k : {10, 2, 1})
    WriteSmallModel(dir.File("run" + std::to_string(k) + ".mox"), "run" + std::to_string(k), k);
  ASSERT_EQ(RunMoxMerge(logs, {"--arrange-files", dir.File("run10.mox"), dir.File("run2.mox"),
                               dir.File("run1.mox"), out})
                .status,
            0);
  EXPECT_EQ(ChildNames(*LoadTree(out), 1), (Names{"run1", "run2", "run10"}));
  // Options after the output path count: merged as instances into the base's own root.
  ASSERT_EQ(RunMoxMerge(logs, {a, b, out, "--merge-as-instances"}).status, 0);
  auto instances = LoadTree(out);
  EXPECT_EQ(instances->GetNode(1)->name, "model-a");
  EXPECT_EQ(Arrays(*instances), "2: stress|@1 stress|@2\n");
  // The output may replace one of the inputs, whose values are read before it is replaced.
  ASSERT_EQ(RunMoxMerge(logs, {a, b, a}).status, 0);
  auto merged = LoadTree(a);
  EXPECT_EQ(ChildNames(*merged, 1), (Names{"model-a", "model-b"}));
  EXPECT_EQ(Arrays(*merged), "3: stress@1\n5: stress@2\n");
}

// Every entry of input stands in out under its identifier plus offset, its links shifted
// alike, with its name, type and arrays: names, kinds, components, links (into its own
// input) and values bit for bit; the input's root hangs under "Merge".
void ExpectShiftedCopy(const KivMox::Tree& input, const KivMox::Tree& out, std::uint32_t offset) {
  auto shift = [&](std::uint32_t id) { return id == 0 ? 0 : id + offset; };
  for (const auto& [id, entry] : input.Entries()) {
    SCOPED_TRACE("input node " + std::to_string(id) + " at " + std::to_string(offset));
    const auto& copy = out.GetReqNode(id + offset);
    EXPECT_EQ(copy.parentId, entry.parentId == 0 ? 1u : shift(entry.parentId));
    if (entry.parentId != 0) {
      EXPECT_EQ(std::pair(copy.prevSiblingId, copy.nextSiblingId),
                std::pair(shift(entry.prevSiblingId), shift(entry.nextSiblingId)));
    }
    EXPECT_EQ(std::pair(copy.firstChildId, copy.lastChildId),
              std::pair(shift(entry.firstChildId), shift(entry.lastChildId)));
    ASSERT_NE(copy.data, nullptr);
    EXPECT_EQ(copy.data->name, entry.data->name);
    EXPECT_EQ(copy.data->GetTypeName(), entry.data->GetTypeName());
    const auto* from = KivMox::NodeAs<KivMox::Geometry>(entry.data);
    const auto* to = KivMox::NodeAs<KivMox::Geometry>(copy.data);
    ASSERT_EQ(!from, !to);
    for (std::size_t i = 0; from && i < std::max(from->arrays.size(), to->arrays.size()); ++i) {
      const auto &f = from->arrays.at(i), &t = to->arrays.at(i);
      EXPECT_EQ(
          std::tuple(t.name, t.kind, t.data.componentCount, t.linked, t.linkNode, t.linkIndex,
                     BytesOf(t.data)),
          std::tuple(f.name, f.kind, f.data.componentCount, f.linked,
                     f.linked ? shift(f.linkNode) : f.linkNode, f.linkIndex, BytesOf(f.data)));
    }
  }
}

TEST(MoxMergeRun, PlainMergeOfTreesValuesLinksHistoryAndViewPoints) {
  TempDir dir, logs;
  // a.mox: 1 group { 2 shape { 3 geometry: elements, stress, disp }, 4 geometry: stressB,
  // stressA linked to 3's stress, 5 node sets }, with an older history record.
  // b.mox: 1 group { 2 geometry: temp, flux; 3 geometry: fluxC linked to 2's flux }.
  Model a("model-a", "Builder", "1.0"), b("model-b", "Other", "3.0");
  a.tree.globalInfo.resize(1);
  a.tree.globalInfo[0].applicationName = "Older";
  a.tree.globalInfo[0].saveTime = "Mon Jan 01 00:00:00 2001 UTC";
  const std::uint32_t partA =
      a.AddGeometry(a.AddShape(1, "shell", 0.125f), "partA",
                    {IntArray("elements", {0, 1, 2, 2, 3, 0, 7, -1, 65536}, 3),
                     FloatArray("stress", Distinct(1)), FloatArray("disp", Distinct(2), 3)});
  a.AddGeometry(1, "partB", {FloatArray("stressB", Distinct(3)), LinkedArray("stressA", partA, 1)});
  a.AddNodeSets(1, "sets", {{"left", {{1, 2}, {3, 4}}}, {"right", {{5, 0xFFFFFFFFu}}}});
  a.SetViews("a-now", {"A1", "A2"}, 100);
  a.Save(dir.File("a.mox"));
  b.AddGeometry(1, "partD",
                {LinkedArray("fluxC",
                             b.AddGeometry(1, "partC",
                                           {FloatArray("temp", Distinct(4)),
                                            FloatArray("flux", Distinct(5))}),
                             1)});
  b.SetViews("b-now", {"B1"}, 200);
  b.Save(dir.File("b.mox"));
  const auto merge = [&](const Names& inputs) {
    Names args;
    for (const auto& input : inputs) args.push_back(dir.File(input));
    args.push_back(dir.File("out.mox"));
    const auto run = RunMoxMerge(logs, args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + ErrorsOf(run), "");
    return LoadTree(dir.File("out.mox"));
  };
  // Two copies of one file stand side by side, each linking into itself; node set members
  // stay as they were.
  const auto out = merge({"a.mox", "a.mox", "b.mox"});
  const auto inA = LoadTree(dir.File("a.mox")), inB = LoadTree(dir.File("b.mox"));
  ASSERT_EQ(out->Size(), 1u + 5 + 5 + 3);
  const auto* root = KivMox::NodeAs<KivMox::Group>(out->GetNode(1));
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->name + std::to_string(root->mergeRoot), "Merge1");
  EXPECT_EQ(Children(*out, 1), (std::vector<std::uint32_t>{2, 7, 12}));
  const auto links = [&](std::uint32_t id) {
    const auto& e = out->GetReqNode(id);
    return std::vector{e.parentId, e.prevSiblingId, e.nextSiblingId};
  };
  EXPECT_EQ(links(1)[0] + links(2)[1] + links(12)[2], 0u);
  EXPECT_EQ(links(12)[1], 7u);
  ExpectShiftedCopy(*inA, *out, 1);
  ExpectShiftedCopy(*inA, *out, 6);
  ExpectShiftedCopy(*inB, *out, 11);
  std::string sets;
  for (const auto& set : KivMox::NodeAs<KivMox::NodeSets>(out->GetNode(6))->sets)
    for (const auto& [g, n] : set.members)
      sets += set.name + " " + std::to_string(g) + "/" + std::to_string(n) + ";";
  EXPECT_EQ(sets, "left 1/2;left 3/4;right 5/4294967295;");

  // History: the first input's, then one record of the merge; view points: the first's.
  ASSERT_EQ(out->globalInfo.size(), 3u);
  EXPECT_EQ(std::vector(out->globalInfo.begin(), out->globalInfo.begin() + 2), inA->globalInfo);
  EXPECT_EQ(out->globalInfo[1].applicationName, "Builder");
  const auto& r = out->globalInfo[2];
  EXPECT_EQ(r.applicationName + "|" + r.applicationVersion + "|" + r.formatVersion + "|" +
                r.computerName + r.userName + r.callerText + out->fileVersion,
            "MoxMerge|2017 R1|1.3|1.3");
  EXPECT_FALSE(r.saveTime.empty());
  EXPECT_EQ(out->views.groups, inA->views.groups);
  EXPECT_EQ(out->views.current, inA->views.current);
  const auto reversed = merge({"b.mox", "a.mox"});
  EXPECT_EQ(GroupNames(reversed->views), (Names{"B1"}));
  EXPECT_EQ(reversed->views.current.name, "b-now");
  EXPECT_EQ(ChildNames(*reversed, 1), (Names{"model-b", "model-a"}));
}

}  // namespace
