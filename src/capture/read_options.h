// The command line of vestrel-read: conventional options (getopt), one
// capture file.
#pragma once

#include <string>

#include "capture/options.h"

namespace vestrel {

enum class ReadAction { Read, ShowUsage, ShowVersion, Fail };

struct ReadCommand {
  ReadAction action = ReadAction::Read;
  Options options;       // -u, -s; the log is named here, opened later
  std::string fileName;  // "-" for standard input
  std::string error;     // why the command line was refused (Fail)
};

// Scans argv with getopt. Option letters may be grouped (-us) and options
// may follow the file name. The log file is not opened here.
ReadCommand scanReadOptions(int argc, char* const* argv);

inline constexpr const char* kReadProgramName = "vestrel-read";

// The whole usage text (-h), and its first line alone, which follows the
// error when a command line is refused.
void printReadUsage(FILE* stream);
void printReadUsageLine(FILE* stream);
void printReadVersion(FILE* stream);

}  // namespace vestrel
