#include "cli/trace_options.h"

#include <getopt.h>
#include <pcap/pcap.h>

#include <charconv>
#include <optional>
#include <string_view>

#include "stream/segment_handler.h"

namespace vestrel {

namespace {

constexpr const char* kVersion = "1.0";

// Long options without a short letter.
constexpr int kSingleStream = 256;
constexpr int kJson = 257;
constexpr int kReassemblyMemory = 258;

// The leading colon has getopt return ':' for a missing value and stay
// quiet, so every message is worded here.
constexpr const char* kShortOptions = ":r:i:Dp:c:w:tCusl:xUhV";
constexpr option kLongOptions[] = {
    {"single-stream", no_argument, nullptr, kSingleStream},
    {"json", no_argument, nullptr, kJson},
    {"reassembly-memory", required_argument, nullptr, kReassemblyMemory},
    {"hex", no_argument, nullptr, 'x'},
    {"line-buffered", no_argument, nullptr, 'U'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

template <typename Number>
std::optional<Number> parseNumber(std::string_view text, Number least) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < least) return std::nullopt;
  return value;
}

// A size in bytes, with K, M or G for the powers of 1024.
std::optional<size_t> parseSize(std::string_view text) {
  int shift = 0;
  if (!text.empty()) {
    switch (text.back()) {
      case 'k':
      case 'K': shift = 10; break;
      case 'm':
      case 'M': shift = 20; break;
      case 'g':
      case 'G': shift = 30; break;
      default: break;
    }
  }
  if (shift != 0) text.remove_suffix(1);
  const auto number = parseNumber<size_t>(text, 1);
  if (!number || *number > (SIZE_MAX >> shift)) return std::nullopt;
  return *number << shift;
}

std::string describeBadOption(char* const* argv, int letter) {
  if (letter == ':') {
    const std::string name = optopt != 0 ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1];
    return "option " + name + " needs a value";
  }
  if (optopt != 0) return std::string("unknown option -") + static_cast<char>(optopt);
  return std::string("unknown option ") + argv[optind - 1];
}

// Applies one option with a value; an error when the value is refused.
std::optional<std::string> applyValue(TraceCommand& command, int letter, const char* value) {
  TraceSettings& settings = command.settings;
  switch (letter) {
    case 'r': settings.readFile = value; break;
    case 'i': settings.device = value; break;
    case 'w': settings.save.file = value; break;
    case 'l': settings.output.logFileName = value; break;
    case 'p': {
      const auto port = parseNumber<uint16_t>(value, 1);
      if (!port) return "-p: '" + std::string(value) + "' is not a port number (1 to 65535)";
      settings.ports.push_back(*port);
      break;
    }
    case kReassemblyMemory: {
      const auto size = parseSize(value);
      if (!size) return "--reassembly-memory: '" + std::string(value) + "' is not a size (bytes, or with K, M or G)";
      settings.heldMemory = *size;
      break;
    }
    case 'c': {
      const auto count = parseNumber<uint64_t>(value, 1);
      if (!count) return "-c: '" + std::string(value) + "' is not a count of messages (1 or more)";
      settings.count = *count;
      break;
    }
    default: break;
  }
  return std::nullopt;
}

std::optional<std::string> applyOption(TraceCommand& command, int letter, int& timeStamps) {
  TraceSettings& settings = command.settings;
  switch (letter) {
    case 'D': command.action = TraceAction::ListDevices; break;
    case 't': ++timeStamps; break;
    case 'C': settings.print.connection = true; break;
    case 'u': settings.output.showUnknown = true; break;
    case 's': settings.output.fullStrings = true; break;
    case 'U': settings.lineBuffered = true; break;
    case 'x': settings.print.hex = true; break;
    case kSingleStream: settings.singleStream = true; break;
    case kJson: settings.print.json = true; break;
    default: return applyValue(command, letter, optarg);
  }
  return std::nullopt;
}

// What the whole command line asks for, once every option is read.
std::optional<std::string> checkCommand(TraceCommand& command, int argc, char* const* argv) {
  TraceSettings& settings = command.settings;
  if (!settings.readFile.empty() && !settings.device.empty()) return "-r and -i cannot be used together";
  for (int at = optind; at < argc; ++at) {
    if (!settings.filterExpression.empty()) settings.filterExpression += ' ';
    settings.filterExpression += argv[at];
  }
  if (settings.ports.empty()) settings.ports.push_back(kBncsPort);
  return std::nullopt;
}

TraceCommand refuse(TraceCommand command, std::string error) {
  command.action = TraceAction::Fail;
  command.error = std::move(error);
  return command;
}

}  // namespace

TraceCommand scanTraceOptions(int argc, char* const* argv) {
  TraceCommand command;
  optind = 0;  // start afresh, even when called more than once
  opterr = 0;
  int timeStamps = 0;
  for (int letter; (letter = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1;) {
    if (letter == 'h' || letter == 'V') {
      command.action = letter == 'h' ? TraceAction::ShowUsage : TraceAction::ShowVersion;
      return command;
    }
    if (letter == '?' || letter == ':') return refuse(std::move(command), describeBadOption(argv, letter));
    if (auto error = applyOption(command, letter, timeStamps)) return refuse(std::move(command), *error);
  }
  command.settings.print.time =
      timeStamps == 0 ? TimeStamp::None : (timeStamps == 1 ? TimeStamp::Time : TimeStamp::DateTime);
  if (auto error = checkCommand(command, argc, argv)) return refuse(std::move(command), *error);
  return command;
}

void printTraceUsageHint(FILE* stream) {
  std::fprintf(stream,
               "Usage: %s [-CDhsuUVx] [-t | -tt] [-c COUNT] [-i DEVICE | -r FILE] [-l LOGFILE] [-p PORT]... "
               "[-w FILE] [--json] [--single-stream] [--reassembly-memory SIZE] [EXPRESSION]\n"
               "Try '%s --help' for more.\n",
               kTraceProgramName, kTraceProgramName);
}

void printTraceUsage(FILE* stream) {
  std::fprintf(stream, "Usage: %s [OPTIONS] [FILTER EXPRESSION]\n", kTraceProgramName);
  std::fputs(
      "Prints every chat message (TCP port 6112) as it happens, live from a device or\n"
      "from a pcap or pcapng capture file, each connection reassembled on its own.\n"
      "The filter expression (pcap-filter(7)) narrows the frames further.\n"
      "\n"
      "  -r FILE          read a capture file (- for standard input)\n"
      "  -i DEVICE        capture live on DEVICE, by name or by the number -D shows\n"
      "                   (without -r or -i: the first device)\n"
      "  -D               list the capture devices and quit\n"
      "  -p PORT          the chat port (default 6112); may be given more than once\n"
      "  -c COUNT         stop after COUNT messages\n"
      "  -w FILE          also save every frame that passed the filter to FILE (pcap)\n"
      "  -t               prefix each message with its capture time, HH:MM:SS.uuuuuu\n"
      "  -tt              ... as YYYY-MM-DD HH:MM:SS.uuuuuu\n"
      "  -C               prefix each message with its connection's client end, and\n"
      "                   show connections opening, closing and losing bytes\n"
      "  -u               show unknown and reserved fields, and the bytes after a\n"
      "                   message's last field\n"
      "  -s               always show texts whole\n"
      "  -l LOGFILE       write every message to LOGFILE as a hex dump\n"
      "  -x, --hex        show every message in hex as well\n"
      "  --json           one JSON object a line for each message and connection event\n"
      "  --single-stream  one shared stream for all connections, as vestrel shows it\n"
      "  --reassembly-memory SIZE  what all connections together may hold behind\n"
      "                   gaps (default 64M); past it the oldest gap is given up\n"
      "  -U, --line-buffered  push each message out at once\n"
      "  -h, --help       show this help and quit\n"
      "  -V, --version    show the version and quit\n",
      stream);
}

void printTraceVersion(FILE* stream) {
  std::fprintf(stream, "%s version %s\n%s\n", kTraceProgramName, kVersion, pcap_lib_version());
}

}  // namespace vestrel
