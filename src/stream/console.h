// The one stream that all console text goes through. It is standard output
// in the program; tests point it at a memory stream to read what was printed.
#pragma once

#include <cstdio>

namespace vestrel {

FILE* console();
void setConsole(FILE* stream);

// printf to the console stream. A failed write sets the stream's error
// flag, which stays set until finishConsole() reads it.
void consolePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Hands what is buffered to the system now, so it is seen at once.
void flushConsole();

// Flushes the console and reports on standard error, as "program: error
// writing standard output: reason", if anything printed was lost. True when
// everything reached it.
bool finishConsole(const char* programName);

}  // namespace vestrel
