// Stored texts escaped for printing: nothing a terminal interprets, readable UTF-8 kept.
#include "kiv/util/display_text.hpp"

#include <gtest/gtest.h>

namespace {

TEST(DisplayText, EscapesWhatATerminalWouldInterpretAndKeepsText) {
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {"Part 1 Mesh", "Part 1 Mesh"}, {"", ""},
      {"Stress\x1EStep 1", "Stress<RS>Step 1"},  // the tag separator
      {"a\001b\x1B[31m\x7F\n\t", "a\\x01b\\x1B[31m\\x7F\\x0A\\x09"},
      {"C:\\dir \"x\"", "C:\\\\dir \\\"x\\\""},
      {"Dr\xC3\xBC" "ck \xE2\x82\xAC \xF0\x9F\x94\xA7", "Dr\xC3\xBC" "ck \xE2\x82\xAC \xF0\x9F\x94\xA7"},
      {"\xFF", "\\xFF"},
      {"\xC3", "\\xC3"},                             // truncated sequence
      {"\xC3x", "\\xC3x"},                           // missing continuation
      {"\xC0\x80", "\\xC0\\x80"},                    // overlong zero
      {"\xE0\x80\xAF", "\\xE0\\x80\\xAF"},           // overlong slash
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},           // surrogate
      {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // beyond U+10FFFF
      {"\200a", "\\x80a"},                           // lone continuation byte
      {"\xC2\x85", "\\xC2\\x85"},                    // C1 next line
      {"a\xE2\x80\xAE" "b", "a\\xE2\\x80\\xAEb"},    // right-to-left override
      {"\xE2\x81\xA6", "\\xE2\\x81\\xA6"},           // left-to-right isolate
      {"\xC2\xA0", "\xC2\xA0"},                      // no-break space stays
  };
  // clang-format on
  for (const auto& [text, shown] : cases) EXPECT_EQ(Kiv::Util::DisplayText(text), shown) << shown;
  EXPECT_EQ(Kiv::Util::Quoted("a\"b"), "\"a\\\"b\"");
  for (int b = 0; b < 256; ++b)
    for (char c : Kiv::Util::DisplayText(std::string(1, static_cast<char>(b))))
      EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "byte " << b;
}

}  // namespace
