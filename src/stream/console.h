// The one stream that all console text goes through. It is standard output
// in the program; tests point it at a memory stream to read what was printed.
#pragma once

#include <cstdio>

namespace vestrel {

FILE* console();
void setConsole(FILE* stream);

// printf to the console stream.
void consolePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vestrel
