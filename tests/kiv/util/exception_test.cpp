// The exception's six-line text, its bounds and the fixed table of error codes.
#include "kiv/util/exception.hpp"

#include <gtest/gtest.h>

#include <ctime>

namespace {

using Kiv::Util::ErrorCode;
using Kiv::Util::Exception;

TEST(Exception, TextHasSixLabelledLinesWithTrailingBlanks) {
  Exception e(ErrorCode::ReadError, "Unable to read from file", "src/kiv/rkf/block.cpp", 438,
              "KivRkf::Block::Read");
  std::time_t t = static_cast<std::time_t>(e.GetRecord().time);
  std::tm tmv{};
  localtime_r(&t, &tmv);
  char when[64];
  std::strftime(when, sizeof when, "%a %b %e %H:%M:%S %Y\n", &tmv);  // 24 characters
  EXPECT_EQ(std::string(e.what()),
            "Exception \"Read Error\" raised. \n"
            "Description : Unable to read from file \n"
            "       File : src/kiv/rkf/block.cpp \n"
            "       Line : 438 \n"
            "     Method : KivRkf::Block::Read \n"
            "       Time : " +
                std::string(when) + " \n");
  EXPECT_EQ(std::make_pair(e.GetCode(), e.GetRecord().level),
            std::make_pair(ErrorCode::ReadError, std::uint16_t(2000)));
  const Exception copy(e);
  EXPECT_STREQ(copy.what(), e.what());
  EXPECT_STREQ(copy.GetDescription(), "Unable to read from file");
  // Without a description, the code's text is both.
  Exception bare(ErrorCode::ElementNotFound, "f.hpp", 120, "M");
  EXPECT_EQ(
      std::string(bare.what())
          .rfind("Exception \"Element Not Found\" raised. \nDescription : Element Not Found \n", 0),
      0u);
}

TEST(Exception, DescriptionIsCutAt5120CharactersAndTheTextAtItsBuffer) {
  const std::string exact(5120, 'x');
  EXPECT_EQ(
      std::string(Exception(ErrorCode::OutOfBounds, exact.c_str(), "f", 1, "m").GetDescription()),
      exact);
  Exception cut(ErrorCode::OutOfBounds, (exact + "y").c_str(), "f", 1, "m");
  EXPECT_EQ(std::string(cut.GetDescription()), exact);
  EXPECT_EQ(std::string(cut.what()).find('y'), std::string::npos);
  Exception full(ErrorCode::ModelError, exact.c_str(), "f", 1, std::string(2000, 'm').c_str());
  EXPECT_EQ(std::string(full.what()).size(), Exception::kTextSize - 1);
}

// The one table of the fixed error texts, in code order; 20 and codes outside have none.
TEST(ErrorCode, TextsOfAllCodes) {
  std::string texts;
  for (int i = -1; i <= Kiv::Util::kErrorCodeCount; ++i)
    texts += Kiv::Util::ErrorCodeText(static_cast<ErrorCode>(i)) + std::string("|");
  EXPECT_EQ(texts,
            "|Memory Allocation Error|Out of Bounds|Unknown Version|Not Initialized|Element Exists|"
            "Element Not Found|Invalid Method|Invalid Enumeration|Invalid Object|Read Error|"
            "Write Error|Format Not Supported|Bad Casting|Not Implemented|Mis-match Error|"
            "System Error|Miscelleneous Error|Zero Length|Model Error|State Error||"
            "Invalid Arguments|Invalid Exception||");
}

}  // namespace
