// The command line. Every lower-case option letter anywhere in an argument
// acts as that option; everything else is passed over.
#pragma once

#include <cstdint>
#include <string>

#include "capture/user_files.h"

namespace vestrel {

struct Options {
  bool showUnknown = false;  // -u: print fields of unknown meaning
  bool fullStrings = false;  // -s: never shorten texts
  int32_t deviceNumber = 1;  // -i
  std::string logFileName;   // -l
  OwnedFile logFile;         // open when -l succeeded
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
