#include "stream/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace vestrel {

namespace {
FILE* consoleStream = nullptr;
}

FILE* console() { return consoleStream != nullptr ? consoleStream : stdout; }

void setConsole(FILE* stream) { consoleStream = stream; }

// printf-style on purpose: the format attribute has the compiler check the
// arguments of every call against its format.
void consolePrint(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): see above
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(console(), format, arguments);
  va_end(arguments);
}

void flushConsole() {
  // A failure stays in the error flag for finishConsole().
  static_cast<void>(std::fflush(console()));
}

bool finishConsole(const char* programName) {
  if (std::fflush(console()) == 0 && std::ferror(console()) == 0) return true;
  std::fprintf(stderr, "%s: error writing standard output: %s\n", programName, std::strerror(errno));
  return false;
}

}  // namespace vestrel
