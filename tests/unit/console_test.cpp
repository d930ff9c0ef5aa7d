// The console's own formatting must give exactly what the C library's
// printf gives, for every conversion the decoders use and the edges of each
// (zero, the largest values, widths narrower and wider than the value), and
// text printed through the stream directly must keep its place.
#include "output/console.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>

#include "test_support.h"

namespace vestrel {
namespace {

struct NumberCase {
  const char* format;
  unsigned value;
};

void PrintTo(const NumberCase& c, std::ostream* out) { *out << '"' << c.format << "\" " << c.value; }

std::string libraryText(const char* format, auto value) {
  char text[256];
  const int length = std::snprintf(text, sizeof text, format, value);
  return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

class NumberFormat : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberFormat, MatchesTheCLibrary) {
  test::ConsoleCapture output;
  consolePrint(GetParam().format, GetParam().value);
  consolePrintNumber(GetParam().format, GetParam().value);
  const std::string expected = libraryText(GetParam().format, GetParam().value);
  EXPECT_EQ(output.text(), expected + expected);
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, NumberFormat,
    ::testing::Values(NumberCase{"%u", 0}, NumberCase{"%u", 7}, NumberCase{"%u", UINT_MAX}, NumberCase{"%X", 0},
                      NumberCase{"0x%X", 0xBADF00D}, NumberCase{"%X", UINT_MAX}, NumberCase{"%x", 0xABCDEF},
                      NumberCase{"%.2X", 0}, NumberCase{"%.2X", 5}, NumberCase{"%.2X", 0x1234},
                      NumberCase{"%2.2X", 0xF}, NumberCase{"%8.8X", 0x25}, NumberCase{"%8.8X", 0xFFFFFFFF},
                      NumberCase{"%.0u", 0}, NumberCase{"%.0X", 3}, NumberCase{"%5u", 42}, NumberCase{"%-5u|", 42},
                      NumberCase{"%05u", 42}, NumberCase{"%-05u|", 42}, NumberCase{"%08.3u", 42},
                      NumberCase{"%2u", 123456}, NumberCase{"%d", 0}, NumberCase{"%d", 2147483648U},
                      NumberCase{"%6d", 4294967295U}, NumberCase{"%06d", 4294967291U}, NumberCase{"Ping: %u, ", 215},
                      NumberCase{"100%% of %u", 3}, NumberCase{"%c|", 'A'}, NumberCase{"%3c|", 'B'},
                      NumberCase{"%-3c|", 'C'}));

struct TextCase {
  const char* format;
  const char* text;
};

void PrintTo(const TextCase& c, std::ostream* out) { *out << '"' << c.format << "\" \"" << c.text << '"'; }

class TextFormat : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextFormat, MatchesTheCLibrary) {
  test::ConsoleCapture output;
  consolePrint(GetParam().format, GetParam().text);
  // The same from a view with no terminator behind it.
  const std::string text = GetParam().text;
  const std::string unterminated = text + "XYZ";
  consolePrintText(GetParam().format, std::string_view(unterminated).substr(0, text.size()));
  const std::string expected = libraryText(GetParam().format, GetParam().text);
  EXPECT_EQ(output.text(), expected + expected);
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, TextFormat,
    ::testing::Values(TextCase{"%s", ""}, TextCase{"User: %s, ", "bob"}, TextCase{"%-20s -> ", "SID_CHATEVENT"},
                      TextCase{"%-20s|", "A_NAME_LONGER_THAN_TWENTY"}, TextCase{"%4s|", "IX"},
                      TextCase{"%4s|", "PX3W8"}, TextCase{"%.2s|", "abcdef"}, TextCase{"%6.2s|", "abcdef"},
                      TextCase{"%-6.2s|", "abcdef"}, TextCase{"%.9s|", "abc"}, TextCase{"no conversion\n", "unused"},
                      TextCase{"%s", "eight ch"}, TextCase{"%s", "sixteen chars ok"}, TextCase{"100%% %s", "done"},
                      TextCase{"\t\t\t\t       Username:\t %s\n", "alice"}));

// Forms the console leaves to the C library still come out right, in place.
TEST(ConsoleFormat, HandsOtherConversionsToTheLibrary) {
  test::ConsoleCapture output;
  consolePrint("a %u ", 1U);
  consolePrint("%lu %+d %5.1f %#x", 123456789012UL, 5, 2.25, 0x1FU);
  consolePrint(" z");
  EXPECT_EQ(output.text(), "a 1 123456789012 +5   2.2 0x1f z");
}

TEST(ConsoleFormat, SeveralConversionsInOneFormat) {
  test::ConsoleCapture output;
  for (int twice = 0; twice < 2; ++twice) {  // the second time from what was made of it the first
    consolePrint("%s -> [0x%2.2X] %-20s -> ", "Rcvd", 0x0FU, "SID_CHATEVENT");
    consolePrint("Last modified: %u/%u/%u %u:%u:%u, ", 7U, 12U, 2026U, 6U, 52U, 33U);
  }
  const std::string once = "Rcvd -> [0x0F] SID_CHATEVENT        -> Last modified: 7/12/2026 6:52:33, ";
  EXPECT_EQ(output.text(), once + once);
}

// A format in writable memory may be another text at the same address the
// next time.
TEST(ConsoleFormat, ReadsAWritableFormatAfresh) {
  test::ConsoleCapture output;
  char format[] = "a%u ";
  consolePrint(format, 1U);  // NOLINT(clang-diagnostic-format-nonliteral): the point of the test
  format[0] = 'b';
  consolePrint(format, 2U);  // NOLINT(clang-diagnostic-format-nonliteral)
  EXPECT_EQ(output.text(), "a1 b2 ");
}

// Text gathered by consolePrint goes out before anything written to the
// stream itself, whatever its length.
TEST(ConsoleFormat, KeepsOrderWithTextWrittenToTheStream) {
  test::ConsoleCapture output;
  const std::string longText(100000, 'x');
  consolePrint("%s", longText.c_str());
  consoleWrite("|raw|");
  std::fputs("direct", console());
  consolePrint(" %u", 9U);
  EXPECT_EQ(output.text(), longText + "|raw|direct 9");
}

// Continuation lines go under the details: each tab becomes the blanks to
// its stop, counted in characters (a UTF-8 character is one column), and
// each line after the first is indented by the prefix's width.
TEST(ConsoleFormat, AlignsTextAfterAPrefix) {
  struct Case {
    std::string_view text, aligned;
  };
  const Case cases[] = {
      {"ab\tc\n", "ab      c\n"},
      {"\xC3\xA9\xC3\xA9\tc\n", "\xC3\xA9\xC3\xA9      c\n"},
      {"a\n\tb\tc\n\nd", "a\n          b       c\n\n  d"},
      {"\t\t\t\t  x:\t1\n", "                                  x:    1\n"},
  };
  for (const Case& row : cases) {
    test::ConsoleCapture output;
    consoleWrite("P ");
    consoleWrite(row.text);
    consoleAlignSince(2, 2);
    EXPECT_EQ(output.text(), "P " + std::string(row.aligned)) << row.text;
  }
}

}  // namespace
}  // namespace vestrel
