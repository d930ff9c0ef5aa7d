#include "output_check.h"

#include <cerrno>
#include <cstdlib>

namespace vestrel::fuzz {

namespace {

bool isRawControl(uint8_t byte) { return (byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7F; }

ssize_t recordWrite(void* cookie, const char* bytes, size_t size) {
  auto& record = *static_cast<StreamRecord*>(cookie);
  if (size > record.limit - record.written) {
    errno = ENOSPC;
    return -1;
  }
  for (size_t index = 0; index < size; ++index) {
    if (isRawControl(static_cast<uint8_t>(bytes[index]))) record.rawControl = true;
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
