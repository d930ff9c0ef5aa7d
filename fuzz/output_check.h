// Streams the fuzz targets print into: nothing is stored, but the console
// stream checks every byte as it is written, and the log stream can refuse
// writes past a limit, as a full disk would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vestrel::fuzz {

// What went through a stream so far.
struct StreamRecord {
  size_t written = 0;
  char last = '\0';
  // A control byte other than tab and newline, or DEL: text from the
  // network reached the terminal unescaped.
  bool rawControl = false;
  // Writes fail once this many bytes have gone through.
  size_t limit = SIZE_MAX;
};

// A write-only stream that updates record; fclose it before record goes.
FILE* openRecordingStream(StreamRecord& record);

// Aborts (a finding for the fuzzer) with the reason on standard error.
[[noreturn]] void fail(const char* reason);

}  // namespace vestrel::fuzz
