#include "output_check.h"

#include <cerrno>
#include <cstdlib>

namespace vestrel::fuzz {

namespace {

bool isRawControl(uint8_t byte) { return (byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7F; }

bool drivesTheTerminal(uint32_t codePoint) {
  return (codePoint >= 0x80 && codePoint <= 0x9F) || (codePoint >= 0x202A && codePoint <= 0x202E) ||
         (codePoint >= 0x2066 && codePoint <= 0x2069);
}

// Starts a character at lead; false when no well-formed one starts there.
// The narrow second-byte ranges shut out overlong forms, surrogates and
// code points past U+10FFFF.
bool startCharacter(Utf8Progress& utf8, uint8_t lead) {
  utf8.low = 0x80;
  utf8.high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    utf8.bytesOwed = 1;
    utf8.codePoint = lead & 0x1FU;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    utf8.bytesOwed = 2;
    utf8.codePoint = lead & 0x0FU;
    if (lead == 0xE0) utf8.low = 0xA0;
    if (lead == 0xED) utf8.high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    utf8.bytesOwed = 3;
    utf8.codePoint = lead & 0x07U;
    if (lead == 0xF0) utf8.low = 0x90;
    if (lead == 0xF4) utf8.high = 0x8F;
  } else {
    return false;
  }
  return true;
}

// True when byte, where it stands in the stream, may reach a terminal.
bool acceptByte(Utf8Progress& utf8, uint8_t byte) {
  const bool cutShort = utf8.bytesOwed > 0 && (byte < utf8.low || byte > utf8.high);
  if (utf8.bytesOwed > 0 && !cutShort) {
    utf8.codePoint = utf8.codePoint << 6 | (byte & 0x3FU);
    utf8.low = 0x80;
    utf8.high = 0xBF;
    return --utf8.bytesOwed > 0 || !drivesTheTerminal(utf8.codePoint);
  }
  // A character cut short is a finding; the byte that cut it starts afresh.
  utf8.bytesOwed = 0;
  const bool fine = byte < 0x80 ? !isRawControl(byte) : startCharacter(utf8, byte);
  return fine && !cutShort;
}

// A fopencookie write function reports an error by returning 0: glibc
// takes -1 for a count of bytes written and reads past the caller's buffer.
ssize_t recordWrite(void* cookie, const char* bytes, size_t size) {
  auto& record = *static_cast<StreamRecord*>(cookie);
  if (size > record.limit - record.written) {
    errno = ENOSPC;
    return 0;
  }
  for (size_t index = 0; index < size; ++index) {
    if (!acceptByte(record.utf8, static_cast<uint8_t>(bytes[index]))) record.rawControl = true;
  }
  if (size > 0) record.last = bytes[size - 1];
  record.written += size;
  return static_cast<ssize_t>(size);
}

}  // namespace

FILE* openRecordingStream(StreamRecord& record) {
  const cookie_io_functions_t functions{nullptr, recordWrite, nullptr, nullptr};
  FILE* stream = fopencookie(&record, "w", functions);
  if (stream == nullptr) fail("cannot open a recording stream");
  return stream;
}

void fail(const char* reason) {
  static_cast<void>(std::fprintf(stderr, "fuzz check failed: %s\n", reason));
  std::abort();
}

}  // namespace vestrel::fuzz
