// The command line. Every lower-case option letter anywhere in an argument
// acts as that option; everything else is passed over.
#pragma once

#include <cstdint>
#include <string>

#include "stream/message_printer.h"

namespace vestrel {

// -u and -s are the display settings, -l the log.
struct Options : OutputSettings {
  int32_t deviceNumber = 1;  // -i
};

// What the command line asks for once it has been scanned.
enum class Action { Capture, ShowUsage, ShowVersion, ListDevices };

// Scans argv[1..] into options, opening the log file for -l (its errors
// are printed here). Stops at the first -h, -v or -d.
Action scanOptions(int argc, const char* const* argv, Options& options);

// A decimal number with optional leading white space and sign, up to the
// first non-digit; 0 without digits. Saturates at the limits of int32_t.
int32_t parseDeviceNumber(const char* text);

void printUsage(const char* programName);
void printVersion();

}  // namespace vestrel
