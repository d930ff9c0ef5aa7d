#include "cli/options.h"

#include <cctype>
#include <limits>

#include "capture/user_files.h"
#include "output/console.h"

namespace vestrel {

namespace {

constexpr const char* kVersion = "1.0";

void openLogFile(Options& options, const char* name) {
  options.logFileName = name;
  // An earlier log file stays as created and is no longer written.
  options.logFile = createOutputFile(name).file;
  if (!options.logFile) consolePrint("Error: Unable to open file %s for logging.\n", name);
}

}  // namespace

int32_t parseDeviceNumber(const char* text) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
    magnitude = std::min(kLimit, magnitude * 10 + (*text - '0'));
  }
  const int64_t value = negative ? -magnitude : std::min<int64_t>(magnitude, kLimit - 1);
  return static_cast<int32_t>(value);
}

Action scanOptions(int argc, const char* const* argv, Options& options) {
  int next = 1;  // the next argument not yet scanned or consumed as a value
  while (next < argc) {
    const char* argument = argv[next++];
    for (const char* c = argument; *c != '\0'; ++c) {
      switch (*c) {
        case 'h': return Action::ShowUsage;
        case 'v': return Action::ShowVersion;
        case 'd': return Action::ListDevices;
        case 'u': options.showUnknown = true; break;
        case 's': options.fullStrings = true; break;
        case 'i':
          if (c[1] != '\0') {
            // The value is the rest of this argument; scanning resumes after
            // its first character, so -i3u means device 3 and -u.
            options.deviceNumber = parseDeviceNumber(c + 1);
            ++c;
          } else {
            options.deviceNumber = next < argc ? parseDeviceNumber(argv[next++]) : 0;
          }
          break;
        case 'l':
          if (next < argc) {
            openLogFile(options, argv[next++]);
          } else {
            consolePrint("Error: No logfile specified\n");
          }
          break;
        default: break;
      }
    }
  }
  return Action::Capture;
}

void printUsage(const char* programName) {
  consolePrint("Usage: %s [OPTIONS]\n\n", programName);
  consolePrint("Valid Options:\n");
  consolePrint("\t-h:\tDisplays this screen and quits.\n");
  consolePrint("\t-v:\tDisplays version information and quits.\n");
  consolePrint("\t-u:\tDisplay the contents of unknown fields in packet details\n");
  consolePrint("\t-s:\tAlways display the complete contents of string fields\n");
  consolePrint("\t-d:\tList devices from which packets may be captured\n");
  consolePrint("\t-i <number>:\tSpecify a device to capture from. Defaults to 1.\n");
  consolePrint("\t-l <logfile>:\tLog captured traffic to the specified file\n");
}

void printVersion() {
  consolePrint("Vestrel version %s\n", kVersion);
  consolePrint("A console monitor for BNCS chat traffic on TCP port 6112.\n");
}

}  // namespace vestrel
