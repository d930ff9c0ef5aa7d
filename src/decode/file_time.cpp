#include "decode/file_time.h"

namespace vestrel {

namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kSecondsPerDay = 86'400;
constexpr uint64_t kTicksPerDay = kTicksPerSecond * kSecondsPerDay;

// Days in a whole 400-year Gregorian cycle, and from 0000-03-01 (the start
// of the cycle the conversion counts in) to 1601-01-01.
constexpr uint64_t kDaysPerEra = 146'097;
constexpr uint64_t kDaysBefore1601 = 584'694;

struct Date {
  uint64_t year;
  uint32_t month;
  uint32_t day;
};

// Counting years from March 1 puts the leap day last, so months have a
// fixed pattern and the leap rules fall out of plain divisions.
Date dateFromDays(uint64_t daysSince1601) {
  const uint64_t days = daysSince1601 + kDaysBefore1601;
  const uint64_t era = days / kDaysPerEra;
  const uint64_t dayOfEra = days - era * kDaysPerEra;                                                    // 0-146096
  const uint64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;  // 0-399
  const uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);             // 0-365
  const uint64_t monthFromMarch = (5 * dayOfYear + 2) / 153;                                             // 0-11
  const auto day = static_cast<uint32_t>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  const auto month = static_cast<uint32_t>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  const uint64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return {year, month, day};
}

}  // namespace

CalendarTime calendarFromFileTime(uint64_t ticks) {
  const Date date = dateFromDays(ticks / kTicksPerDay);
  const uint64_t secondOfDay = ticks % kTicksPerDay / kTicksPerSecond;
  return {static_cast<uint32_t>(date.year),
          date.month,
          date.day,
          static_cast<uint32_t>(secondOfDay / 3600),
          static_cast<uint32_t>(secondOfDay / 60 % 60),
          static_cast<uint32_t>(secondOfDay % 60)};
}

}  // namespace vestrel
