// vestrel-gen: writes capture files of chat protocol traffic, the sample
// session or long chat traffic, for any supported link type and format.
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "capture_writer.h"
#include "chat_traffic.h"
#include "sample_session.h"

namespace {

using namespace vestrel::wire;

struct Request {
  LinkType link = LinkType::Ethernet;
  FileFormat format = FileFormat::Pcap;
  std::string outputPath;  // empty: standard output
  std::optional<size_t> messages;
  bool packed = false;
  bool help = false;
};

// A bound on --messages that keeps a file within a few gigabytes.
constexpr size_t kMaxMessages = 50'000'000;

std::string linkNameList() {
  std::string names;
  for (const LinkTypeName& entry : linkTypeNames()) {
    if (!names.empty()) names += ", ";
    names += entry.name;
  }
  return names;
}

void printUsage(std::FILE* to) {
  std::fprintf(to,
               "Usage: vestrel-gen [--link NAME] [--format pcap|pcapng] [-o FILE] [--messages N [--packed]]\n"
               "Writes a capture of chat traffic on TCP port 6112: by default the sample session\n"
               "(two clients logging on and chatting).\n"
               "\n"
               "  --link NAME      link layer of the frames (default ethernet): %s\n"
               "  --format FORMAT  pcap (default) or pcapng\n"
               "  -o FILE          write FILE instead of standard output\n"
               "  --messages N     instead of the sample, one connection carrying N chat messages\n"
               "  --packed         with --messages: runs of one side's messages share segments\n"
               "  -h, --help       show this text\n",
               linkNameList().c_str());
}

std::optional<size_t> parseCount(std::string_view text) {
  size_t count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc() || end != text.data() + text.size() || count == 0 || count > kMaxMessages) {
    return std::nullopt;
  }
  return count;
}

// Reads the option at argv[at] (and its value), or returns why it cannot.
std::optional<std::string> readOption(Request& request, int argc, char** argv, int& at) {
  const std::string_view option = argv[at];
  if (option == "-h" || option == "--help") {
    request.help = true;
    return std::nullopt;
  }
  if (option == "--packed") {
    request.packed = true;
    return std::nullopt;
  }
  if (option != "--link" && option != "--format" && option != "-o" && option != "--messages") {
    return "unknown option '" + std::string(option) + "'";
  }
  if (at + 1 >= argc) return "option '" + std::string(option) + "' needs a value";
  const std::string_view value = argv[++at];
  if (option == "--link") {
    const auto link = findLinkType(value);
    if (!link) return "unknown link type '" + std::string(value) + "' (choose from " + linkNameList() + ")";
    request.link = *link;
  } else if (option == "--format") {
    const auto format = findFileFormat(value);
    if (!format) return "unknown format '" + std::string(value) + "' (choose pcap or pcapng)";
    request.format = *format;
  } else if (option == "-o") {
    request.outputPath = value;
  } else {
    request.messages = parseCount(value);
    if (!request.messages) return "--messages needs a count from 1 to " + std::to_string(kMaxMessages);
  }
  return std::nullopt;
}

std::optional<std::string> readRequest(Request& request, int argc, char** argv) {
  for (int at = 1; at < argc; ++at) {
    if (auto error = readOption(request, argc, argv, at)) return error;
  }
  if (request.packed && !request.messages) return "--packed goes with --messages";
  return std::nullopt;
}

bool writeRequested(std::FILE* out, const Request& request) {
  CaptureWriter writer(out, request.link, request.format);
  if (request.messages) return writeChatTraffic(writer, {*request.messages, request.packed});
  return writeSampleSession(writer);
}

int fail(const std::string& message) {
  std::fprintf(stderr, "vestrel-gen: %s\n", message.c_str());
  return 1;
}

int writeToStandardOutput(const Request& request) {
  // A terminal would only show binary noise, and could be left in a bad state.
  if (isatty(STDOUT_FILENO) != 0) {
    return fail("will not write a binary capture to a terminal; use -o FILE or redirect the output");
  }
  if (!writeRequested(stdout, request)) return fail(std::string("cannot write the capture: ") + std::strerror(errno));
  return 0;
}

int writeToFile(const Request& request) {
  std::FILE* out = std::fopen(request.outputPath.c_str(), "wb");
  if (out == nullptr) return fail("cannot create " + request.outputPath + ": " + std::strerror(errno));
  const bool written = writeRequested(out, request);
  const int writeError = errno;
  const bool closed = std::fclose(out) == 0;
  if (!written || !closed) {
    return fail("cannot write " + request.outputPath + ": " + std::strerror(written ? errno : writeError));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Request request;
  if (const auto error = readRequest(request, argc, argv)) {
    std::fprintf(stderr, "vestrel-gen: %s\n", error->c_str());
    printUsage(stderr);
    return 1;
  }
  if (request.help) {
    printUsage(stdout);
    return 0;
  }
  return request.outputPath.empty() || request.outputPath == "-" ? writeToStandardOutput(request)
                                                                 : writeToFile(request);
}
