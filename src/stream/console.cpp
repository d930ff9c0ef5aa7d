#include "stream/console.h"

#include <cstdarg>

namespace vestrel {

namespace {
FILE* consoleStream = nullptr;
}

FILE* console() { return consoleStream != nullptr ? consoleStream : stdout; }

void setConsole(FILE* stream) { consoleStream = stream; }

void consolePrint(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(console(), format, arguments);
  va_end(arguments);
}

}  // namespace vestrel
