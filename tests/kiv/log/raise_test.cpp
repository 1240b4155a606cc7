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

TEST(Raise, CheckAndTheCodeTextAndTheLongDescription) {
  TestSupport::LogCapture capture;
  EXPECT_NO_THROW(KIV_CHECK(true, OutOfBounds, "never", "M"));
  EXPECT_TRUE(capture.Captured().empty());
  EXPECT_THROW(KIV_CHECK(false, OutOfBounds, "always", "M"), Exception);
  EXPECT_EQ(capture.Count("always"), 1);
  try {
    KIV_RAISE(ElementNotFound, nullptr, "KivRkf::Index::GetReadingBlockIndex");
  } catch (const Exception& e) {
    EXPECT_STREQ(e.GetDescription(), "Element Not Found");  // without a description
  }
  EXPECT_EQ(capture.Count("Element Not Found"), 1);
  try {
    KIV_RAISE(ModelError, std::string(6000, 'z'), "M");
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.GetDescription()), std::string(5120, 'z'));
  }
  EXPECT_EQ(capture.Count(std::string(5120, 'z')), 1);
}

}  // namespace
