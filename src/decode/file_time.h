// Calendar date and time of a Windows file time: 100-ns ticks since
// 1601-01-01 00:00:00 UTC, as servers send them for archive dates.
#pragma once

#include <cstdint>

namespace vestrel {

struct CalendarTime {
  uint32_t year;
  uint32_t month;  // 1-12
  uint32_t day;    // 1-31
  uint32_t hour;
  uint32_t minute;
  uint32_t second;
};

// UTC, proleptic Gregorian, sub-second part dropped. Defined for every
// 64-bit value: the largest falls in the year 60056.
CalendarTime calendarFromFileTime(uint64_t ticks);

}  // namespace vestrel
