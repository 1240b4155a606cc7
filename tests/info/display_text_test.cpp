// Escaping of stored texts for printing: nothing that a terminal would interpret gets
// through, well-formed UTF-8 text stays readable, and the result is always UTF-8.
#include "info/display_text.hpp"

#include <gtest/gtest.h>

using MoxInfo::DisplayText;
using MoxInfo::Quoted;

namespace {

TEST(DisplayText, PlainTextIsUnchanged) {
  EXPECT_EQ(DisplayText("Part 1 Mesh"), "Part 1 Mesh");
  EXPECT_EQ(DisplayText(""), "");
}

TEST(DisplayText, TagSeparatorIsShownAsRS) {
  EXPECT_EQ(DisplayText("Stress\x1E"
                        "Step 1"),
            "Stress<RS>Step 1");
  EXPECT_EQ(DisplayText("\x1E\x1E"), "<RS><RS>");
}

TEST(DisplayText, ControlBytesBackslashAndQuoteAreEscaped) {
  EXPECT_EQ(DisplayText("a\x01"
                        "b\x1B[31m\x7F\n\t"),
            "a\\x01b\\x1B[31m\\x7F\\x0A\\x09");
  EXPECT_EQ(DisplayText("C:\\dir \"x\""), "C:\\\\dir \\\"x\\\"");
  EXPECT_EQ(Quoted("a\"b"), "\"a\\\"b\"");
}

TEST(DisplayText, WellFormedUtf8IsKept) {
  EXPECT_EQ(DisplayText("Dr\xC3\xBC"
                        "ck \xE2\x82\xAC \xF0\x9F\x94\xA7"),
            "Dr\xC3\xBC"
            "ck \xE2\x82\xAC \xF0\x9F\x94\xA7");
}

TEST(DisplayText, MalformedUtf8IsEscapedByteByByte) {
  EXPECT_EQ(DisplayText("\xFF"), "\\xFF");
  EXPECT_EQ(DisplayText("\xC3"), "\\xC3") << "truncated sequence";
  EXPECT_EQ(DisplayText("\xC3x"), "\\xC3x") << "missing continuation";
  EXPECT_EQ(DisplayText("\xC0\x80"), "\\xC0\\x80") << "overlong zero";
  EXPECT_EQ(DisplayText("\xE0\x80\xAF"), "\\xE0\\x80\\xAF") << "overlong slash";
  EXPECT_EQ(DisplayText("\xED\xA0\x80"), "\\xED\\xA0\\x80") << "surrogate";
  EXPECT_EQ(DisplayText("\xF4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80") << "beyond U+10FFFF";
  EXPECT_EQ(DisplayText("\x80"
                        "a"),
            "\\x80a")
      << "lone continuation byte";
}

TEST(DisplayText, InvisibleControlCharactersAreEscaped) {
  EXPECT_EQ(DisplayText("\xC2\x85"), "\\xC2\\x85") << "C1 next line";
  EXPECT_EQ(DisplayText("\xC2\x9B"
                        "2J"),
            "\\xC2\\x9B2J")
      << "C1 control sequence introducer";
  EXPECT_EQ(DisplayText("a\xE2\x80\xAE"
                        "b"),
            "a\\xE2\\x80\\xAEb")
      << "right-to-left override";
  EXPECT_EQ(DisplayText("\xE2\x81\xA6"), "\\xE2\\x81\\xA6") << "left-to-right isolate";
  EXPECT_EQ(DisplayText("\xC2\xA0"), "\xC2\xA0") << "no-break space stays";
}

TEST(DisplayText, EveryByteValueGivesPrintableUtf8) {
  for (int b = 0; b < 256; ++b) {
    const std::string out = DisplayText(std::string(1, static_cast<char>(b)));
    for (char c : out) {
      const auto u = static_cast<unsigned char>(c);
      EXPECT_TRUE(u >= 0x20 && u < 0x7F) << "byte " << b << " gave " << out;
    }
  }
}

}  // namespace
