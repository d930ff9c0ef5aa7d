// The shared forms: file times over the whole 64-bit range, and network
// text made safe for the terminal.
#include "decode/output_forms.h"

#include <gtest/gtest.h>

#include <ctime>
#include <ostream>

#include "decode/file_time.h"
#include "output/utf8.h"

namespace vestrel {
namespace {

struct FileTimeCase {
  const char* name;
  uint64_t ticks;
  CalendarTime time;
};

void PrintTo(const FileTimeCase& c, std::ostream* out) { *out << c.name; }

class FileTime : public ::testing::TestWithParam<FileTimeCase> {};

TEST_P(FileTime, GivesTheCalendarDate) {
  const CalendarTime time = calendarFromFileTime(GetParam().ticks);
  const CalendarTime& expected = GetParam().time;
  EXPECT_EQ(time.day, expected.day);
  EXPECT_EQ(time.month, expected.month);
  EXPECT_EQ(time.year, expected.year);
  EXPECT_EQ(time.hour, expected.hour);
  EXPECT_EQ(time.minute, expected.minute);
  EXPECT_EQ(time.second, expected.second);
}

constexpr uint64_t kTicksPerDay = 864'000'000'000;

INSTANTIATE_TEST_SUITE_P(
    Dates, FileTime,
    ::testing::Values(FileTimeCase{"Zero", 0, {1601, 1, 1, 0, 0, 0}},
                      FileTimeCase{"LastTickOfTheFirstDay", kTicksPerDay - 1, {1601, 1, 1, 23, 59, 59}},
                      FileTimeCase{"UnixEpoch", 116'444'736'000'000'000, {1970, 1, 1, 0, 0, 0}},
                      FileTimeCase{"ModernDate", 0x01DD861788F6E507, {2026, 12, 7, 6, 52, 33}},
                      FileTimeCase{"LeapDayOfACenturyDivisibleBy400", 0x01BF831116363FFF, {2000, 2, 29, 23, 59, 59}},
                      // 1900 is no leap year: 1900-02-28 is followed by 1900-03-01.
                      FileTimeCase{"CenturyWithoutLeapDay", (109'207 + 59) * kTicksPerDay, {1900, 3, 1, 0, 0, 0}},
                      FileTimeCase{"FirstDayOfYear10000", 2'650'467'744'000'000'000, {10000, 1, 1, 0, 0, 0}},
                      FileTimeCase{"HighBitSet", uint64_t{1} << 63, {30828, 9, 14, 2, 48, 5}},
                      FileTimeCase{"Largest", UINT64_MAX, {60056, 5, 28, 5, 36, 10}}),
    [](const auto& info) { return std::string(info.param.name); });

// The C library's own UTC conversion is an independent check on values
// spread over the whole range.
TEST(FileTime, AgreesWithTheCLibraryAcrossTheRange) {
  constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;
  uint64_t ticks = 0x9E3779B97F4A7C15;
  for (int i = 0; i < 20000; ++i) {
    ticks = ticks * 6364136223846793005 + 1442695040888963407;
    const auto unixSeconds = static_cast<time_t>(static_cast<int64_t>(ticks / 10'000'000) - kSecondsFrom1601To1970);
    std::tm expected{};
    ASSERT_NE(gmtime_r(&unixSeconds, &expected), nullptr);
    const CalendarTime time = calendarFromFileTime(ticks);
    ASSERT_EQ(time.year, static_cast<uint32_t>(expected.tm_year + 1900)) << ticks;
    ASSERT_EQ(time.month, static_cast<uint32_t>(expected.tm_mon + 1)) << ticks;
    ASSERT_EQ(time.day, static_cast<uint32_t>(expected.tm_mday)) << ticks;
    ASSERT_EQ(time.hour * 3600 + time.minute * 60 + time.second,
              static_cast<uint32_t>(expected.tm_hour * 3600 + expected.tm_min * 60 + expected.tm_sec))
        << ticks;
  }
}

struct SafeTextCase {
  const char* name;
  std::string raw;
  const char* shown;
};

void PrintTo(const SafeTextCase& c, std::ostream* out) { *out << c.name; }

class ConsoleSafe : public ::testing::TestWithParam<SafeTextCase> {};

TEST_P(ConsoleSafe, EscapesWhatCouldDriveTheTerminal) { EXPECT_STREQ(consoleSafe(GetParam().raw), GetParam().shown); }

INSTANTIATE_TEST_SUITE_P(
    Texts, ConsoleSafe,
    ::testing::Values(SafeTextCase{"Plain", "hello, world", "hello, world"}, SafeTextCase{"Empty", "", ""},
                      SafeTextCase{"Escape", "\x1B[2J", "\\x1B[2J"},
                      SafeTextCase{"FirstAndLastControl", std::string("\x01\x1F", 2), "\\x01\\x1F"},
                      SafeTextCase{"BlankIsPrintable", " ", " "}, SafeTextCase{"Delete", "\x7F", "\\x7F"},
                      SafeTextCase{"StrayBytesAroundALetter", "\x80\xC3\xA9\xFF", "\\x80\xC3\xA9\\xFF"},
                      SafeTextCase{"BackslashKept", "a\\x1B", "a\\x1B"}, SafeTextCase{"PercentKept", "100%s", "100%s"}),
    [](const auto& info) { return std::string(info.param.name); });

// Beyond ASCII: C1 controls and bidirectional overrides in UTF-8, and every
// byte that is not well-formed UTF-8, print escaped; other characters print.
INSTANTIATE_TEST_SUITE_P(
    Utf8, ConsoleSafe,
    ::testing::Values(
        // CSI K erases the line; OSC 0 sets the window title.
        SafeTextCase{"CsiAsUtf8", "eve\xC2\x9BK", "eve\\xC2\\x9BK"},
        SafeTextCase{"CsiAsOneByte", "eve\x9BK", "eve\\x9BK"},
        SafeTextCase{"OscAsUtf8",
                     "\xC2\x9D"
                     "0;x\x07",
                     "\\xC2\\x9D0;x\\x07"},
        SafeTextCase{"FirstOverrideU202A", "\xE2\x80\xAAx", "\\xE2\\x80\\xAAx"},
        SafeTextCase{"LastOverrideU202EBeforeU202F", "\xE2\x80\xAE\xE2\x80\xAF", "\\xE2\\x80\\xAE\xE2\x80\xAF"},
        SafeTextCase{"FirstIsolateU2066AfterU2065", "\xE2\x81\xA5\xE2\x81\xA6", "\xE2\x81\xA5\\xE2\\x81\\xA6"},
        SafeTextCase{"LastIsolateU2069", "\xE2\x81\xA9", "\\xE2\\x81\\xA9"},
        // Korean, Cyrillic, accented Latin and a four-byte emoji around an override.
        SafeTextCase{"LettersKeptAroundAnOverride",
                     "\xED\x95\x9C\xEA\xB8\x80 \xD0\x96\xD0\xB5\xD0\xBD\xD1\x8F\xE2\x80\xAE"
                     "Ren\xC3\xA9 \xF0\x9F\x98\x80",
                     "\xED\x95\x9C\xEA\xB8\x80 \xD0\x96\xD0\xB5\xD0\xBD\xD1\x8F\\xE2\\x80\\xAE"
                     "Ren\xC3\xA9 \xF0\x9F\x98\x80"},
        SafeTextCase{"C1EdgesAndTheNextKept", "\xC2\x80\xC2\x9F\xC2\xA0", "\\xC2\\x80\\xC2\\x9F\xC2\xA0"},
        SafeTextCase{"OverlongSlashes", "\xC0\xAF\xE0\x80\xAF\xF0\x80\x80\xAF",
                     "\\xC0\\xAF\\xE0\\x80\\xAF\\xF0\\x80\\x80\\xAF"},
        SafeTextCase{"Surrogate", "\xED\xA0\x80", "\\xED\\xA0\\x80"},
        SafeTextCase{"PastU10FFFFAndLeadF5", "\xF4\x90\x80\x80\xF5\x80\x80\x80",
                     "\\xF4\\x90\\x80\\x80\\xF5\\x80\\x80\\x80"},
        SafeTextCase{"CutShortInsideAndAtTheEnd", "\xE2\x82x\xF0\x9F\x98", "\\xE2\\x82x\\xF0\\x9F\\x98"}),
    [](const auto& info) { return std::string(info.param.name); });

// Long texts are scanned eight bytes at a time: every byte that needs
// escaping must be caught at every place in a word and in the tail, and a
// plain text must come back as itself, uncopied.
TEST(ConsoleSafe, CatchesEachEscapedByteAnywhereInALongText) {
  std::string plain;
  for (char c = ' '; c <= '~'; ++c) plain += c;
  EXPECT_EQ(consoleSafeView(plain).data(), plain.data());
  EXPECT_EQ(printableAsciiPrefix(plain, true), plain.find('"'));
  for (const uint8_t bad : {0x00, 0x1F, 0x7F, 0x80, 0xC3, 0xFF, 0x22, 0x5C}) {
    const bool quoteOrBackslash = bad == '"' || bad == '\\';
    for (size_t at = 0; at < 19; ++at) {
      std::string raw(19, 'a');
      raw[at] = static_cast<char>(bad);
      EXPECT_EQ(printableAsciiPrefix(raw, true), at) << +bad << " at " << at;
      EXPECT_EQ(printableAsciiPrefix(raw), quoteOrBackslash ? raw.size() : at) << +bad << " at " << at;
      if (quoteOrBackslash) continue;
      char escaped[5];
      static_cast<void>(std::snprintf(escaped, sizeof escaped, "\\x%02X", bad));
      EXPECT_EQ(std::string(consoleSafeView(raw)), raw.substr(0, at) + escaped + raw.substr(at + 1)) << +bad << at;
    }
  }
}

TEST(LookUpText, FindsRowsAndNothingElse) {
  constexpr CodeText kRows[] = {{0, "zero"}, {0x203, "three"}};
  EXPECT_STREQ(lookUpText(kRows, 0), "zero");
  EXPECT_STREQ(lookUpText(kRows, 0x203), "three");
  EXPECT_EQ(lookUpText(kRows, 1), nullptr);
  EXPECT_EQ(lookUpText({}, 0), nullptr);
}

}  // namespace
}  // namespace vestrel
