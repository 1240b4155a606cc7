// The trace log of a moxmerge run: written to MoxMerge_trace.log in the directory that
// TESSARA_TEMP_PATH names, one "<source file> : <line> @ <message>" line per record, and
// discarded with a notice when that directory cannot be written.
#include <gtest/gtest.h>

#include "merge/mox_fixtures.hpp"

namespace {

using namespace AppTest;
using TestSupport::FileExists;
using TestSupport::TempDir;

class TraceLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Model a("model-a");
    a.AddGeometry(1, "partA", {FloatArray("stress", Distinct(1.0f))});
    a.Save(dir.File("a.mox"));
    Model b("model-b");
    b.Save(dir.File("b.mox"));
  }

  TempDir dir;
  TempDir logs;
};

// "<source file name> : <line number> @ <message>", the file name without directories.
bool IsRecordLine(const std::string& line) {
  const auto colon = line.find(" : ");
  if (colon == 0 || colon == std::string::npos) return false;
  const std::string file = line.substr(0, colon);
  if (file.find_first_of("/\\ ") != std::string::npos) return false;
  if (!file.ends_with(".cpp") && !file.ends_with(".hpp")) return false;
  std::size_t p = colon + 3;
  const std::size_t digits = p;
  while (p < line.size() && line[p] >= '0' && line[p] <= '9') ++p;
  return p > digits && line.compare(p, 3, " @ ") == 0;
}

// The records of a trace file; every line must have the record form.
Names RecordsOf(const std::string& path) {
  const auto bytes = TestSupport::ReadFileBytes(path);
  const std::string text(bytes.begin(), bytes.end());
  Names records;
  for (const auto& line : Lines(text)) {
    EXPECT_TRUE(IsRecordLine(line)) << "not a record line: " << line;
    records.push_back(line);
  }
  return records;
}

bool HasRecord(const Names& records, const std::string& message) {
  for (const auto& r : records)
    if (r.size() >= message.size() &&
        r.compare(r.size() - message.size(), message.size(), message) == 0)
      return true;
  return false;
}

TEST_F(TraceLogTest, LogIsWrittenWhereTheEnvironmentPoints) {
  auto run = RunMoxMerge(logs, {dir.File("a.mox"), dir.File("b.mox"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string path = logs.Path() + "/MoxMerge_trace.log";
  EXPECT_EQ(run.err, "Writing log to \"" + path + "\"\n");
  ASSERT_TRUE(FileExists(path));
  Names records = RecordsOf(path);
  EXPECT_TRUE(HasRecord(records, "@ Saving mox tree ... ")) << ::testing::PrintToString(records);
  EXPECT_TRUE(HasRecord(records, "@ Mox tree saved. "));
  EXPECT_TRUE(HasRecord(records, "@ Saving global information ..."));
}

TEST_F(TraceLogTest, FailuresAreLoggedToo) {
  auto run = RunMoxMerge(logs, {dir.File("a.mox"), dir.File("missing.mox"), dir.File("out.mox")});
  ASSERT_EQ(run.status, 2);
  const std::string path = logs.Path() + "/MoxMerge_trace.log";
  std::string text;
  for (const auto& record : RecordsOf(path)) text += record + "\n";
  EXPECT_NE(text.find("Unable to open file \"" + dir.File("missing.mox") + "\""), std::string::npos)
      << text;
}

TEST_F(TraceLogTest, AnUnwritableDirectoryDiscardsTheLog) {
  // A directory that does not exist cannot be written, whoever runs the test.
  const std::string missing = logs.Path() + "/no/such/directory";
  auto run = TestSupport::RunProgram("moxmerge",
                                     {dir.File("a.mox"), dir.File("b.mox"), dir.File("out.mox")},
                                     {"TESSARA_TEMP_PATH=" + missing});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "Unable to set log file.Log information will be discorded.\n");
  EXPECT_EQ(DirectoryEntries(logs.Path()), Names{});
  EXPECT_EQ(ChildNames(*LoadMox(dir.File("out.mox")), 1), (Names{"model-a", "model-b"}));
}

}  // namespace
