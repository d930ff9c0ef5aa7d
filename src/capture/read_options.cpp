#include "capture/read_options.h"

#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdio>

namespace vestrel {

namespace {

constexpr const char* kVersion = "1.0";

// Letters getopt knows; the leading colon has it return ':' for a missing
// value and stay quiet, so every message is worded here.
constexpr const char* kOptionLetters = ":hvusl:";

std::string describeBadOption(int letter, int optionCharacter) {
  const std::string name(1, static_cast<char>(optionCharacter));
  if (letter == ':') return "option -" + name + " needs a value";
  return "unknown option -" + name;
}

}  // namespace

ReadCommand scanReadOptions(int argc, char* const* argv) {
  ReadCommand command;
  optind = 0;  // start afresh, even when called more than once
  opterr = 0;
  for (int letter; (letter = getopt(argc, argv, kOptionLetters)) != -1;) {
    switch (letter) {
      case 'h': command.action = ReadAction::ShowUsage; return command;
      case 'v': command.action = ReadAction::ShowVersion; return command;
      case 'u': command.options.showUnknown = true; break;
      case 's': command.options.fullStrings = true; break;
      case 'l': command.options.logFileName = optarg; break;
      default:
        command.action = ReadAction::Fail;
        command.error = describeBadOption(letter, optopt);
        return command;
    }
  }
  const int files = argc - optind;
  if (files != 1) {
    command.action = ReadAction::Fail;
    command.error = files == 0 ? "no capture file given" : "only one capture file can be read";
    return command;
  }
  command.fileName = argv[optind];
  return command;
}

void printReadUsageLine(FILE* stream) {
  std::fprintf(stream, "Usage: %s [-u] [-s] [-l LOGFILE] FILE\n", kReadProgramName);
}

void printReadUsage(FILE* stream) {
  printReadUsageLine(stream);
  std::fputs(
      "Prints the chat messages (TCP port 6112) of a pcap or pcapng capture file\n"
      "as vestrel prints them live. A FILE of - reads standard input.\n"
      "\n"
      "  -u          show the contents of unknown fields\n"
      "  -s          always show texts whole\n"
      "  -l LOGFILE  write every message to LOGFILE as a hex dump\n"
      "  -h          show this help and quit\n"
      "  -v          show the version and quit\n",
      stream);
}

void printReadVersion(FILE* stream) {
  std::fprintf(stream, "vestrel-read version %s\n%s\n", kVersion, pcap_lib_version());
}

}  // namespace vestrel
