// Streams the fuzz targets print into: nothing is stored, but the console
// stream checks every byte as it is written, and the log stream can refuse
// writes past a limit, as a full disk would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vestrel::fuzz {

// Where a stream stands inside a UTF-8 character, which one write may
// begin and the next one end.
struct Utf8Progress {
  uint8_t bytesOwed = 0;
  // The range the next byte must fall in.
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
  uint32_t codePoint = 0;
};

// What went through a stream so far.
struct StreamRecord {
  size_t written = 0;
  char last = '\0';
  // Text from the network reached the terminal unescaped: a control byte
  // other than tab and newline, DEL, a C1 control (U+0080-U+009F) or a
  // bidirectional override (U+202A-U+202E, U+2066-U+2069) in UTF-8, or a
  // byte that is no part of well-formed UTF-8.
  bool rawControl = false;
  Utf8Progress utf8;
  // Writes fail once this many bytes have gone through.
  size_t limit = SIZE_MAX;
};

// A write-only stream that updates record; fclose it before record goes.
FILE* openRecordingStream(StreamRecord& record);

// Aborts (a finding for the fuzzer) with the reason on standard error.
[[noreturn]] void fail(const char* reason);

}  // namespace vestrel::fuzz
