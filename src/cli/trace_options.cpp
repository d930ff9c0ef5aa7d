#include "cli/trace_options.h"

#include <getopt.h>
#include <pcap/pcap.h>

#include <charconv>
#include <climits>
#include <cstring>
#include <optional>
#include <string_view>

#include "decode/message_filter.h"
#include "stream/segment_handler.h"

namespace vestrel {

namespace {

constexpr const char* kVersion = "1.0";

// Long options without a short letter.
enum LongOnly : int {
  kSingleStream = 256,
  kJson,
  kReassemblyMemory,
  kPort,
  kLog,
  kWholeTexts,
  kStats,
  kImmediateMode,
  kNotSupported,  // tcpdump's long options that have no meaning here
};

// The leading colon has getopt return ':' for a missing value and stay
// quiet, so every message is worded here. The letters after the first
// group are tcpdump's that vestrel-trace refuses, with their values as
// tcpdump takes them, so that "-yEN10MB" is refused as -y.
constexpr const char* kShortOptions =
    ":i:Dr:w:c:s:pB:Z:lUnvuqxXtC:G:W:Y:hV"
    "aAbdeE:fF:HIj:JKLm:M:NOQ:ST:y:z:#";
constexpr const char* kRefusedLetters = "aAbdeEfFHIjJKLmMNOQSTyz#";

constexpr option kLongOptions[] = {
    {"port", required_argument, nullptr, kPort},
    {"log", required_argument, nullptr, kLog},
    {"single-stream", no_argument, nullptr, kSingleStream},
    {"whole-texts", no_argument, nullptr, kWholeTexts},
    {"unknown", no_argument, nullptr, 'u'},
    {"json", no_argument, nullptr, kJson},
    {"stats", no_argument, nullptr, kStats},
    {"reassembly-memory", required_argument, nullptr, kReassemblyMemory},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    // tcpdump's long names for the letters.
    {"interface", required_argument, nullptr, 'i'},
    {"list-interfaces", no_argument, nullptr, 'D'},
    {"count", required_argument, nullptr, 'c'},
    {"snapshot-length", required_argument, nullptr, 's'},
    {"no-promiscuous-mode", no_argument, nullptr, 'p'},
    {"buffer-size", required_argument, nullptr, 'B'},
    {"relinquish-privileges", required_argument, nullptr, 'Z'},
    {"immediate-mode", no_argument, nullptr, kImmediateMode},
    {"hex", no_argument, nullptr, 'x'},
    {"line-buffered", no_argument, nullptr, 'l'},
    {"direction", required_argument, nullptr, kNotSupported},
    {"monitor-mode", no_argument, nullptr, kNotSupported},
    {"time-stamp-type", required_argument, nullptr, kNotSupported},
    {"list-time-stamp-types", no_argument, nullptr, kNotSupported},
    {"time-stamp-precision", required_argument, nullptr, kNotSupported},
    {"micro", no_argument, nullptr, kNotSupported},
    {"nano", no_argument, nullptr, kNotSupported},
    {"dont-verify-checksums", no_argument, nullptr, kNotSupported},
    {"list-data-link-types", no_argument, nullptr, kNotSupported},
    {"no-optimize", no_argument, nullptr, kNotSupported},
    {"absolute-tcp-sequence-numbers", no_argument, nullptr, kNotSupported},
    {"number", no_argument, nullptr, kNotSupported},
    {"print", no_argument, nullptr, kNotSupported},
    {"print-sampling", required_argument, nullptr, kNotSupported},
    {"lengths", no_argument, nullptr, kNotSupported},
    {"fp-type", no_argument, nullptr, kNotSupported},
    {nullptr, 0, nullptr, 0},
};

// tcpdump's own limit for -s 0, and for any larger value.
constexpr int kLargestSnapshotLength = 262144;
constexpr int kMostTimeStampLetters = 5;

template <typename Number>
std::optional<Number> parseNumber(std::string_view text, Number least) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < least) return std::nullopt;
  return value;
}

// A count of units, each unit bytes large, with K, M or G for the powers
// of 1024 instead.
std::optional<uint64_t> parseSize(std::string_view text, uint64_t unit) {
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
  if (shift != 0) {
    text.remove_suffix(1);
    unit = uint64_t{1} << shift;
  }
  const auto number = parseNumber<uint64_t>(text, 1);
  if (!number || *number > SIZE_MAX / unit) return std::nullopt;
  return *number * unit;
}

bool isLetterOf(const char* letters, int letter) {
  return letter > 0 && letter < 256 && std::strchr(letters, letter) != nullptr;
}

std::string_view optionName(std::string_view word) { return word.substr(0, word.find('=')); }

// "--s": the long options it abbreviates, when more than one.
std::string ambiguity(std::string_view word) {
  const std::string_view name = optionName(word).substr(2);
  std::string matches;
  int count = 0;
  for (const option* entry = kLongOptions; entry->name != nullptr; ++entry) {
    if (std::string_view(entry->name).starts_with(name)) {
      matches += std::string(count++ == 0 ? "" : ", ") + "--" + entry->name;
    }
  }
  return count > 1 ? matches : std::string();
}

std::string describeBadOption(char* const* argv, int letter) {
  const std::string_view word = argv[optind - 1];
  if (letter == ':') {
    const std::string name =
        word.starts_with("--") ? std::string(optionName(word)) : std::string("-") + static_cast<char>(optopt);
    return "option " + name + " needs a value";
  }
  // A letter getopt knows, refused all the same: its long name was given a value.
  if (isLetterOf(kShortOptions, optopt) || optopt >= kSingleStream) {
    return std::string(word) + ": " + std::string(optionName(word)) + " takes no value";
  }
  if (optopt != 0) return std::string("unknown option -") + static_cast<char>(optopt);
  const std::string candidates = ambiguity(word);
  if (!candidates.empty()) return "option " + std::string(optionName(word)) + " is ambiguous: " + candidates;
  return "unknown option " + std::string(word);
}

std::string quoted(const char* value) { return "'" + std::string(value) + "'"; }

// Applies a capture or saving option with a value; an error when the value is refused.
std::optional<std::string> applyCaptureValue(TraceSettings& settings, int letter, const char* value) {
  switch (letter) {
    case 's': {
      const auto length = parseNumber<int>(value, 0);
      if (!length) return "-s: " + quoted(value) + " is not a snapshot length (0 for the largest, 262144)";
      settings.live.snapshotLength = *length == 0 ? kLargestSnapshotLength : std::min(*length, kLargestSnapshotLength);
      break;
    }
    case 'B': {
      const auto kibibytes = parseNumber<int>(value, 1);
      if (!kibibytes || *kibibytes > INT_MAX / 1024) return "-B: " + quoted(value) + " is not a buffer size in KiB";
      settings.live.bufferBytes = *kibibytes * 1024;
      break;
    }
    case 'C': {
      const auto size = parseSize(value, 1'000'000);
      if (!size) return "-C: " + quoted(value) + " is not a file size (millions of bytes, or with K, M or G)";
      settings.save.fileSizeBytes = *size;
      break;
    }
    case 'G': {
      const auto seconds = parseNumber<int64_t>(value, 1);
      if (!seconds) return "-G: " + quoted(value) + " is not a number of seconds (1 or more)";
      settings.save.rotateSeconds = *seconds;
      break;
    }
    case 'W': {
      const auto count = parseNumber<uint32_t>(value, 1);
      if (!count) return "-W: " + quoted(value) + " is not a number of files (1 or more)";
      settings.save.fileCount = *count;
      break;
    }
    default: break;
  }
  return std::nullopt;
}

// Applies one option with a value; an error when the value is refused.
std::optional<std::string> applyValue(TraceSettings& settings, int letter, const char* value) {
  switch (letter) {
    case 'r': settings.readFile = value; break;
    case 'i': settings.device = value; break;
    case 'w': settings.save.file = value; break;
    case 'Z': settings.dropUser = value; break;
    case 'Y': settings.displayFilter = value; break;
    case kLog: settings.output.logFileName = value; break;
    case kPort: {
      const auto port = parseNumber<uint16_t>(value, 1);
      if (!port) return "--port: " + quoted(value) + " is not a port number (1 to 65535)";
      settings.ports.push_back(*port);
      break;
    }
    case kReassemblyMemory: {
      const auto size = parseSize(value, 1);
      if (!size) return "--reassembly-memory: " + quoted(value) + " is not a size (bytes, or with K, M or G)";
      settings.heldMemory = *size;
      break;
    }
    case 'c': {
      const auto count = parseNumber<uint64_t>(value, 1);
      if (!count) return "-c: " + quoted(value) + " is not a count of messages (1 or more)";
      settings.count = *count;
      break;
    }
    default: return applyCaptureValue(settings, letter, value);
  }
  return std::nullopt;
}

struct Scan {
  TraceCommand command;
  int timeStampLetters = 0;
};

std::optional<std::string> applyOption(Scan& scan, int letter, const option* longOption) {
  TraceSettings& settings = scan.command.settings;
  switch (letter) {
    case 'D': scan.command.action = TraceAction::ListDevices; break;
    case 't':
      if (++scan.timeStampLetters > kMostTimeStampLetters) {
        return "-" + std::string(scan.timeStampLetters, 't') + ": only -t, -tt, -ttt, -tttt and -ttttt are supported";
      }
      break;
    case 'p': settings.live.promiscuous = false; break;
    case 'l': settings.lineBuffered = true; break;
    case 'U':
      settings.lineBuffered = true;
      settings.save.flushEachFrame = true;
      break;
    case 'n':                    // names are never looked up
    case kImmediateMode: break;  // frames always come within milliseconds
    case 'v':
    case 'u': settings.output.showUnknown = true; break;
    case 'q': settings.print.summaryOnly = true; break;
    case 'X': settings.print.hexWithText = true; [[fallthrough]];
    case 'x': settings.print.hex = true; break;
    case kWholeTexts: settings.output.fullStrings = true; break;
    case kSingleStream: settings.singleStream = true; break;
    case kJson: settings.print.json = true; break;
    case kStats: settings.stats = true; break;
    case kNotSupported:
      return "option --" + std::string(longOption != nullptr ? longOption->name : "") +
             " is not supported by vestrel-trace";
    default:
      if (isLetterOf(kRefusedLetters, letter)) {
        return std::string("option -") + static_cast<char>(letter) + " is not supported by vestrel-trace";
      }
      return applyValue(settings, letter, optarg);
  }
  return std::nullopt;
}

// -t once hides the time, -tt to -ttttt pick tcpdump's forms; without -t
// the time of day, except on the shared stream, which keeps the classic
// monitor's lines as they are.
TimeStamp timeStampOf(int letters, bool singleStream) {
  constexpr TimeStamp kForms[] = {TimeStamp::Time,          TimeStamp::None,     TimeStamp::Epoch,
                                  TimeStamp::SincePrevious, TimeStamp::DateTime, TimeStamp::SinceFirst};
  if (letters == 0 && singleStream) return TimeStamp::None;
  return kForms[letters];
}

// Rotation needs files to rotate.
std::optional<std::string> checkSaving(const SaveSettings& save) {
  const bool rotates = save.fileSizeBytes != 0 || save.rotateSeconds != 0;
  if ((rotates || save.fileCount != 0) && save.file.empty())
    return "-C, -G and -W rotate the files of -w FILE; give -w";
  if (save.fileCount != 0 && !rotates) return "-W needs -C or -G";
  if (rotates && save.file == "-") return "-C and -G rotate files; standard output (-w -) cannot be rotated";
  return std::nullopt;
}

// What the whole command line asks for, once every option is read.
std::optional<std::string> checkCommand(Scan& scan, int argc, char* const* argv) {
  TraceSettings& settings = scan.command.settings;
  if (!settings.readFile.empty() && !settings.device.empty()) return "-r and -i cannot be used together";
  if (auto problem = checkSaving(settings.save)) return problem;
  if (!settings.displayFilter.empty()) {
    FilterParse parse = parseMessageFilter(settings.displayFilter);
    if (!parse.filter) return "-Y: " + describeFilterProblem(parse, settings.displayFilter);
    settings.print.filter = std::move(parse.filter);
  }
  for (int at = optind; at < argc; ++at) {
    if (!settings.filterExpression.empty()) settings.filterExpression += ' ';
    settings.filterExpression += argv[at];
  }
  if (settings.ports.empty()) settings.ports.push_back(kBncsPort);
  settings.print.time = timeStampOf(scan.timeStampLetters, settings.singleStream);
  settings.print.connection = !settings.singleStream;
  // Standard output carries the saved frames: no message may go there.
  settings.print.show = settings.save.file != "-";
  return std::nullopt;
}

TraceCommand refuse(TraceCommand command, std::string error) {
  command.action = TraceAction::Fail;
  command.error = std::move(error);
  return command;
}

}  // namespace

TraceCommand scanTraceOptions(int argc, char* const* argv) {
  Scan scan;
  optind = 0;  // start afresh, even when called more than once
  opterr = 0;
  int longIndex = -1;
  for (int letter; (letter = getopt_long(argc, argv, kShortOptions, kLongOptions, &longIndex)) != -1; longIndex = -1) {
    if (letter == 'h' || letter == 'V') {
      scan.command.action = letter == 'h' ? TraceAction::ShowUsage : TraceAction::ShowVersion;
      return std::move(scan.command);
    }
    if (letter == '?' || letter == ':') return refuse(std::move(scan.command), describeBadOption(argv, letter));
    const option* longOption = longIndex >= 0 ? &kLongOptions[longIndex] : nullptr;
    if (auto error = applyOption(scan, letter, longOption)) return refuse(std::move(scan.command), *error);
  }
  if (auto error = checkCommand(scan, argc, argv)) return refuse(std::move(scan.command), *error);
  return std::move(scan.command);
}

void printTraceUsageHint(FILE* stream) {
  std::fprintf(stream,
               "Usage: %s [-DhlnpqUvVxX] [-t...] [-B KiB] [-c COUNT] [-C MB] [-G SECONDS] [-i DEVICE | -r FILE]\n"
               "       [-s SNAPLEN] [-w FILE] [-W COUNT] [-Y EXPRESSION] [-Z USER] [--port PORT]... [--log FILE]\n"
               "       [--json] [--stats] [--single-stream] [--whole-texts] [--reassembly-memory SIZE] [EXPRESSION]\n"
               "Try '%s --help' for more.\n",
               kTraceProgramName, kTraceProgramName);
}

void printTraceUsage(FILE* stream) {
  std::fprintf(stream, "Usage: %s [OPTIONS] [FILTER EXPRESSION]\n", kTraceProgramName);
  std::fputs(
      "Prints every chat message (TCP port 6112) as it happens, live from a device or\n"
      "from a pcap or pcapng capture file, each connection reassembled on its own:\n"
      "  12:00:01.123456 10.0.0.5:50312 Sent -> [0x0E] SID_CHATCOMMAND      -> hi\n"
      "The filter expression (pcap-filter(7)) narrows the frames further. Options\n"
      "mean what they mean to tcpdump; in parentheses, their long names.\n"
      "\n"
      "  -i DEVICE        capture live on DEVICE, by name or by the number -D shows;\n"
      "                   without -r or -i, the first device (--interface)\n"
      "  -D               list the devices and their state, and quit (--list-interfaces)\n"
      "  -r FILE          read a capture file (- for standard input)\n"
      "  -w FILE          save every frame that passed the filter to FILE (pcap); -w -\n"
      "                   writes them to standard output and no message is printed:\n"
      "                   see them with --log FILE, or a second vestrel-trace -r -\n"
      "  -C MB            with -w, a new file before the current one would pass MB\n"
      "                   millions of bytes (with K, M or G: KiB, MiB, GiB): FILE,\n"
      "                   FILE1, FILE2 ...\n"
      "  -G SECONDS       with -w, a new file every SECONDS, FILE a strftime(3) format\n"
      "  -W COUNT         with -C, a ring of COUNT files; with -G, stop after COUNT\n"
      "  -c COUNT         stop after COUNT messages (--count)\n"
      "  -s SNAPLEN       bytes kept of each frame; 0, the default, is 262144\n"
      "                   (--snapshot-length)\n"
      "  -p               leave promiscuous mode off (--no-promiscuous-mode)\n"
      "  -B KiB           the kernel's capture buffer, default 32768 (--buffer-size)\n"
      "  -Z USER          once the device and files are open, run as USER; default:\n"
      "                   who ran sudo, or nobody (--relinquish-privileges)\n"
      "  -l               push each message out at once (--line-buffered)\n"
      "  -U               as -l, and write each frame of -w out as it is saved\n"
      "  -n               accepted, as is -nn: nothing is ever resolved\n"
      "  -t               no time stamp; default: the local time, 12:00:01.123456\n"
      "  -tt              seconds since the epoch, 1733650801.123456\n"
      "  -ttt             time since the previous line,  00:00:00.000045\n"
      "  -tttt            local date and time, 2026-12-08 12:00:01.123456\n"
      "  -ttttt           time since the first line,  00:00:01.000045\n"
      "  -q               the summary line alone: time, client end, direction, id, name\n"
      "  -v               show unknown and reserved fields, and the bytes after a\n"
      "                   message's last field (--unknown)\n"
      "  -u               the same as -v\n"
      "  -x               each message in hex under it (--hex)\n"
      "  -X               each message in hex and characters under it, as --log has it\n"
      "  -Y EXPRESSION    show only the messages the expression takes, e.g.\n"
      "                   'name == SID_CHATCOMMAND and text contains \"/w\"'\n"
      "  --port PORT      the chat port (default 6112); may be given more than once\n"
      "  --log FILE       write every message to FILE as a hex dump\n"
      "  --json           one JSON object a line for each message and connection event\n"
      "  --stats          after the messages, counts per message and per connection\n"
      "  --single-stream  one shared stream for all connections, as vestrel shows it,\n"
      "                   with no time stamp unless -tt to -ttttt asks for one\n"
      "  --whole-texts    never shorten texts on the shared stream (they never are on\n"
      "                   the connections' own)\n"
      "  --reassembly-memory SIZE  what all connections together may hold behind\n"
      "                   gaps (default 64M); past it the oldest gap is given up\n"
      "  --immediate-mode accepted: frames always come within milliseconds\n"
      "  -h               show this help and quit (--help)\n"
      "  -V               show the version and quit (--version)\n",
      stream);
}

void printTraceVersion(FILE* stream) {
  std::fprintf(stream, "%s version %s\n%s\n", kTraceProgramName, kVersion, pcap_lib_version());
}

}  // namespace vestrel
