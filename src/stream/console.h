// The one stream that all console text goes through. It is standard output
// in the program; tests point it at a memory stream to read what was printed.
// consolePrint gathers text in memory; asking for the stream hands it all
// over first, so text printed either way keeps its order.
#pragma once

#include <cstdio>
#include <string_view>

namespace vestrel {

// The stream, once every text printed so far has been written to it.
FILE* console();
void setConsole(FILE* stream);

// Text as it is, no conversions.
void consoleWrite(std::string_view text);

// printf to the console: the conversions this program uses (s, c, d, u, x,
// X with the flags - and 0, width and precision) are done here, anything
// else by the C library, with the same result either way.
void consolePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vestrel
