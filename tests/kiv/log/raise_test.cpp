// Raise: one level-2000 log record, published before the exception leaves.
#include "kiv/log/raise.hpp"

#include <gtest/gtest.h>

#include "support/log_capture.hpp"

namespace {

using Kiv::Util::ErrorCode;
using Kiv::Util::Exception;

TEST(Raise, PublishesOneErrorRecordBeforeThrowing) {
  TestSupport::LogCapture capture;
  std::uint32_t line = 0;
  try {
    line = __LINE__ + 1;
    KIV_RAISE(ReadError, "Unable to read from file", "KivRkf::Block::Read");
  } catch (const Exception& e) {
    EXPECT_EQ(e.GetCode(), ErrorCode::ReadError);
    EXPECT_STREQ(e.GetDescription(), "Unable to read from file");
    EXPECT_EQ(e.GetRecord().line, line);
    EXPECT_STREQ(e.GetRecord().method, "KivRkf::Block::Read");
    EXPECT_NE(std::string(e.GetRecord().file).find("raise_test.cpp"), std::string::npos);
  }
  const std::string text =
      "raise_test.cpp : " + std::to_string(line) + " @ Unable to read from file\n";
  EXPECT_EQ(capture.Captured(), (TestSupport::LogCapture::Lines{{text, 0}}));
}

}  // namespace
