// The exception's six-line text, its bounds and the fixed table of error codes.
#include "kiv/util/exception.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <iterator>
#include <string>

namespace {

using Kiv::Util::ErrorCode;
using Kiv::Util::Exception;

std::string TimeLine(std::int64_t time) {
  std::time_t t = static_cast<std::time_t>(time);
  std::tm tmv{};
  localtime_r(&t, &tmv);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a %b %e %H:%M:%S %Y\n", &tmv);
  return buf;
}

TEST(Exception, TextHasSixLabelledLinesWithTrailingBlanks) {
  Exception e(ErrorCode::ReadError, "Unable to read from file", "src/kiv/rkf/block.cpp", 438,
              "KivRkf::Block::Read");
  std::string expected =
      "Exception \"Read Error\" raised. \n"
      "Description : Unable to read from file \n"
      "       File : src/kiv/rkf/block.cpp \n"
      "       Line : 438 \n"
      "     Method : KivRkf::Block::Read \n"
      "       Time : " +
      TimeLine(e.GetRecord().time) + " \n";
  EXPECT_EQ(e.what(), expected);
  // The time rendering is the 24-character form with its own line feed.
  EXPECT_EQ(TimeLine(e.GetRecord().time).size(), 25u);
  EXPECT_EQ(e.GetCode(), ErrorCode::ReadError);
  EXPECT_STREQ(e.GetDescription(), "Unable to read from file");
  EXPECT_EQ(e.GetRecord().level, 2000);
  EXPECT_EQ(e.GetRecord().line, 438u);
}

TEST(Exception, WithoutDescriptionShowsTheCodeTextTwice) {
  Exception e(ErrorCode::ElementNotFound, "src/kiv/adt/tree.hpp", 120, "KivAdt::Tree::GetNode");
  std::string text = e.what();
  EXPECT_EQ(text.rfind("Exception \"Element Not Found\" raised. \n", 0), 0u);
  EXPECT_NE(text.find("\nDescription : Element Not Found \n"), std::string::npos);
  EXPECT_STREQ(e.GetDescription(), "Element Not Found");
}

TEST(Exception, DescriptionIsCutAt5120Characters) {
  std::string exact(5120, 'x');
  Exception whole(ErrorCode::OutOfBounds, exact.c_str(), "f", 1, "m");
  EXPECT_EQ(std::string(whole.GetDescription()), exact);

  std::string longer = exact + "y";
  Exception cut(ErrorCode::OutOfBounds, longer.c_str(), "f", 1, "m");
  EXPECT_EQ(std::string(cut.GetDescription()), exact);
  EXPECT_EQ(std::string(cut.what()).find('y'), std::string::npos);
}

TEST(Exception, TextIsCutAtTheEndOfItsBuffer) {
  std::string description(5120, 'd');
  std::string method(2000, 'm');
  Exception e(ErrorCode::ModelError, description.c_str(), "f", 1, method.c_str());
  std::string text = e.what();
  EXPECT_EQ(text.size(), Exception::kTextSize - 1);
  EXPECT_EQ(text.rfind("Exception \"Model Error\" raised. \n", 0), 0u);
}

TEST(Exception, CopyKeepsTextCodeDescriptionAndTime) {
  Exception original(ErrorCode::WriteError, "Unable to write to file", "a/b.cpp", 7, "X::Y");
  Exception copy(original);
  EXPECT_STREQ(copy.what(), original.what());
  EXPECT_EQ(copy.GetCode(), original.GetCode());
  EXPECT_STREQ(copy.GetDescription(), original.GetDescription());
  EXPECT_EQ(copy.GetRecord().time, original.GetRecord().time);
}

TEST(Exception, CaughtAsStandardExceptionGivesTheSameText) {
  std::string text;
  try {
    throw Exception(ErrorCode::BadCasting, "cast", "f.cpp", 3, "M");
  } catch (const std::exception& e) {
    text = e.what();
  }
  EXPECT_EQ(text.rfind("Exception \"Bad Casting\" raised. \n", 0), 0u);
  EXPECT_NE(text.find("\n       Line : 3 \n"), std::string::npos);
  // Six lines, the last one being the time line's own line feed plus " \n".
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 7);
  EXPECT_EQ(text.substr(text.size() - 3), "\n \n");
}

TEST(ErrorCode, TextsOfAllCodes) {
  const char* texts[] = {"Memory Allocation Error",
                         "Out of Bounds",
                         "Unknown Version",
                         "Not Initialized",
                         "Element Exists",
                         "Element Not Found",
                         "Invalid Method",
                         "Invalid Enumeration",
                         "Invalid Object",
                         "Read Error",
                         "Write Error",
                         "Format Not Supported",
                         "Bad Casting",
                         "Not Implemented",
                         "Mis-match Error",
                         "System Error",
                         "Miscelleneous Error",
                         "Zero Length",
                         "Model Error",
                         "State Error",
                         "",
                         "Invalid Arguments",
                         "Invalid Exception"};
  ASSERT_EQ(std::size(texts), std::size_t(Kiv::Util::kErrorCodeCount));
  for (int i = 0; i < Kiv::Util::kErrorCodeCount; ++i)
    EXPECT_STREQ(Kiv::Util::ErrorCodeText(static_cast<ErrorCode>(i)), texts[i]) << "code " << i;
  EXPECT_STREQ(Kiv::Util::ErrorCodeText(static_cast<ErrorCode>(23)), "");
  EXPECT_STREQ(Kiv::Util::ErrorCodeText(static_cast<ErrorCode>(-1)), "");
}

}  // namespace
