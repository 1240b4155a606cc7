// Log lines, level filters, record bounds and the two outcomes of SetUpLog.
#include "kiv/log/log_manager.hpp"

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace {

using Kiv::Util::LogRecord;

TEST(Log, LinesFiltersAndRecordBounds) {
  const std::pair<const char*, const char*> files[] = {{"src/kiv/mox/tree", "tree : 100 @ m\n"},
                                                       {"C:\\kiv\\index", "index : 100 @ m\n"},
                                                       {"a\\b/c.cpp", "c.cpp : 100 @ m\n"},
                                                       {"plain", "plain : 100 @ m\n"}};
  for (const auto& [file, line] : files)
    EXPECT_EQ(Kiv::Log::DefaultFormatter()(LogRecord(1000, file, 100, "M").Append("m")), line);
  Kiv::Log::LevelFilter<1000> trace;
  Kiv::Log::LevelFilter<2000> errors;
  for (std::uint16_t level : {999, 1000, 1999, 2000, 65535})
    EXPECT_EQ(
        std::make_pair(trace(LogRecord(level, "f", 1, "m")), errors(LogRecord(level, "f", 1, "m"))),
        std::make_pair(level >= 1000, level >= 2000))
        << level;
  LogRecord record(LogRecord::kInfo, "f", 1, "m");
  record.Append(std::string(6000, 'a')).Append("more");
  EXPECT_EQ(record.MessageLength(), 5120u);
}

// What SetUpLog prints to standard error with the given trace directories.
std::string SetUpWith(const char* temp, const char* profile = nullptr) {
  TestSupport::EnvGuard t("TESSARA_TEMP_PATH", temp), u("USERPROFILE", profile);
  testing::internal::CaptureStderr();
  Kiv::Log::SetUpLog();
  return testing::internal::GetCapturedStderr();
}

// Each outcome registers one route, with the trace filter (level 1000 and above) rather
// than the default one (errors only); setting up again prints again but adds nothing.
TEST(Log, SetUpLogToAnUnwritableAndAWritableDirectory) {
  auto& manager = Kiv::Log::LogManager::Instance();
  const std::size_t before = manager.Routes().size();
  TestSupport::TempDir dir;
  const std::string missing = dir.File("missing");
  const std::string discarded = "Unable to set log file.Log information will be discorded.\n";
  EXPECT_EQ(SetUpWith(missing.c_str()) + SetUpWith(missing.c_str()), discarded + discarded);
  ASSERT_EQ(manager.Routes().size(), before + 1);
  EXPECT_TRUE(manager.HasPublisher("log to null"));
  EXPECT_NE(manager.Routes().back().filter, 0u);  // 0: the default filter, made first
  EXPECT_FALSE(TestSupport::FileExists(missing));

  const std::string trace = dir.Path() + "/MoxMerge_trace.log";
  const std::string shown = "Writing log to \"" + trace + "\"\n";
  EXPECT_EQ(SetUpWith("", dir.Path().c_str()) + SetUpWith(dir.Path().c_str()), shown + shown);
  ASSERT_EQ(manager.Routes().size(), before + 2);
  EXPECT_EQ(manager.Routes().back().filter, manager.Routes()[before].filter);
}

}  // namespace
