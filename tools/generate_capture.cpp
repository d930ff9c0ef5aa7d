// vestrel-gen: writes capture files of chat protocol traffic, the sample
// session, long chat traffic, or many interleaved clients, for any supported
// link type and format.
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "attack_traffic.h"
#include "capture_writer.h"
#include "chat_traffic.h"
#include "interleaved_traffic.h"
#include "sample_session.h"

namespace {

using namespace vestrel::wire;

struct Request {
  LinkType link = LinkType::Ethernet;
  FileFormat format = FileFormat::Pcap;
  std::string outputPath;  // empty: standard output
  std::optional<size_t> messages;
  bool packed = false;
  bool lossy = false;
  std::optional<size_t> tinySegments;
  std::optional<size_t> colliding;
  std::optional<InterleavedTraffic> clients;
  std::string expectPath;
  std::string clientOption;  // the first option given that needs --clients
  bool help = false;
};

// A bound on the messages of a capture that keeps a file within a few
// gigabytes.
constexpr size_t kMaxMessages = 50'000'000;
constexpr size_t kMaxClients = 1'000'000;

std::string linkNameList() {
  std::string names;
  for (const LinkTypeName& entry : linkTypeNames()) {
    if (!names.empty()) names += ", ";
    names += entry.name;
  }
  return names;
}

void printUsage(std::FILE* to) {
  std::fprintf(
      to,
      "Usage: vestrel-gen [--link NAME] [--format pcap|pcapng] [-o FILE] [--messages N [--packed] [--lossy]]\n"
      "       vestrel-gen [--link NAME] [--format pcap|pcapng] [-o FILE] --tiny-segments N | --colliding N\n"
      "       vestrel-gen [--link NAME] [--format pcap|pcapng] [-o FILE] --clients N [--messages-per-client M]\n"
      "                   [--ipv6 K] [--split] [--retransmit PCT] [--swap PCT] [--keepalive] [--midway]\n"
      "                   [--lose] [--seed S] [--expect FILE]\n"
      "Writes a capture of chat traffic on TCP port 6112: by default the sample session\n"
      "(two clients logging on and chatting).\n"
      "\n"
      "  --link NAME      link layer of the frames (default ethernet): %s\n"
      "  --format FORMAT  pcap (default) or pcapng\n"
      "  -o FILE          write FILE instead of standard output\n"
      "  --messages N     instead of the sample, one connection carrying N chat messages\n"
      "  --packed         with --messages: runs of one side's messages share segments\n"
      "  --lossy          with --messages: every other data segment of each side is missing\n"
      "  --tiny-segments N  one connection's pings in N one-byte segments, the first captured last\n"
      "  --colliding N    N IPv6 connections whose keys collide in a hash without a secret\n"
      "  --clients N      instead of the sample, N clients connected at once, their segments interleaved\n"
      "With --clients:\n"
      "  --messages-per-client M  messages each way on every connection (default 10)\n"
      "  --ipv6 K         the last K clients use IPv6\n"
      "  --split          messages cut across segments at any byte\n"
      "  --retransmit PCT that share of data segments sent again 1 to 5 frames later\n"
      "  --swap PCT       that share of data segments swapped with their side's next one\n"
      "  --keepalive      idle sides now and then send keep-alive probes\n"
      "  --midway         one connection's start is missing from the capture\n"
      "  --lose           one connection loses a segment of whole messages for good\n"
      "  --seed S         another seed gives other traffic (default %u)\n"
      "  --expect FILE    write to FILE the messages a per-connection reassembler shows\n"
      "  -h, --help       show this text\n",
      linkNameList().c_str(), kDefaultTrafficSeed);
}

std::optional<size_t> parseNumber(std::string_view text, size_t least, size_t most) {
  size_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number < least || number > most) {
    return std::nullopt;
  }
  return number;
}

std::optional<size_t> parseCount(std::string_view text) { return parseNumber(text, 1, kMaxMessages); }

bool isClientFlag(std::string_view option) {
  return option == "--split" || option == "--keepalive" || option == "--midway" || option == "--lose";
}

bool isClientOption(std::string_view option) {
  return option == "--messages-per-client" || option == "--ipv6" || option == "--retransmit" || option == "--swap" ||
         option == "--seed" || option == "--expect";
}

void setClientFlag(InterleavedTraffic& traffic, std::string_view option) {
  if (option == "--split") traffic.split = true;
  if (option == "--keepalive") traffic.keepAlive = true;
  if (option == "--midway") traffic.midway = true;
  if (option == "--lose") traffic.lose = true;
}

// Options of the interleaved clients, read into traffic before --clients
// itself may have been seen; the counts are checked against it later.
std::optional<std::string> readClientOption(Request& request, InterleavedTraffic& traffic, std::string_view option,
                                            std::string_view value) {
  const auto percent = [&](uint32_t& share) -> std::optional<std::string> {
    const auto number = parseNumber(value, 0, 100);
    if (!number) return std::string(option) + " needs a share from 0 to 100";
    share = static_cast<uint32_t>(*number);
    return std::nullopt;
  };
  if (option == "--retransmit") return percent(traffic.retransmitPercent);
  if (option == "--swap") return percent(traffic.swapPercent);
  if (option == "--expect") {
    request.expectPath = value;
    return std::nullopt;
  }
  if (option == "--seed") {
    const auto seed = parseNumber(value, 0, UINT32_MAX);
    if (!seed) return "--seed needs a number from 0 to " + std::to_string(UINT32_MAX);
    traffic.seed = static_cast<uint32_t>(*seed);
    return std::nullopt;
  }
  if (option == "--ipv6") {
    const auto count = parseNumber(value, 0, kMaxClients);
    if (!count) return "--ipv6 needs a count from 0 to " + std::to_string(kMaxClients);
    traffic.ipv6Clients = *count;
    return std::nullopt;
  }
  const auto count = parseCount(value);
  if (!count) return "--messages-per-client needs a count from 1 to " + std::to_string(kMaxMessages);
  traffic.messagesPerClient = *count;
  return std::nullopt;
}

// Reads the option at argv[at] (and its value), or returns why it cannot.
std::optional<std::string> readOption(Request& request, InterleavedTraffic& traffic, int argc, char** argv, int& at) {
  const std::string_view option = argv[at];
  if (option == "-h" || option == "--help") {
    request.help = true;
    return std::nullopt;
  }
  if (option == "--packed" || option == "--lossy") {
    (option == "--packed" ? request.packed : request.lossy) = true;
    return std::nullopt;
  }
  if (isClientFlag(option) || isClientOption(option)) {
    if (request.clientOption.empty()) request.clientOption = option;
  }
  if (isClientFlag(option)) {
    setClientFlag(traffic, option);
    return std::nullopt;
  }
  if (option != "--link" && option != "--format" && option != "-o" && option != "--messages" && option != "--clients" &&
      option != "--tiny-segments" && option != "--colliding" && !isClientOption(option)) {
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
  } else if (option == "--messages") {
    request.messages = parseCount(value);
    if (!request.messages) return "--messages needs a count from 1 to " + std::to_string(kMaxMessages);
  } else if (option == "--tiny-segments" || option == "--colliding") {
    const auto count = parseNumber(value, 1, kMaxClients);
    if (!count) return std::string(option) + " needs a count from 1 to " + std::to_string(kMaxClients);
    (option == "--colliding" ? request.colliding : request.tinySegments) = count;
  } else if (option == "--clients") {
    const auto clients = parseNumber(value, 1, kMaxClients);
    if (!clients) return "--clients needs a count from 1 to " + std::to_string(kMaxClients);
    traffic.clients = *clients;
    request.clients = traffic;  // completed once every option is read
  } else {
    return readClientOption(request, traffic, option, value);
  }
  return std::nullopt;
}

// What the options of the interleaved clients ask for together.
std::optional<std::string> checkClients(const Request& request, const InterleavedTraffic& traffic) {
  if (request.messages) return "--clients and --messages do not go together";
  if (traffic.ipv6Clients > traffic.clients) return "--ipv6 asks for more IPv6 clients than --clients gives";
  if (traffic.messagesPerClient > kMaxMessages / traffic.clients) {
    return "--clients times --messages-per-client must stay within " + std::to_string(kMaxMessages) + " messages";
  }
  if (traffic.lose && traffic.messagesPerClient < 2) return "--lose needs --messages-per-client of 2 or more";
  if (traffic.lose && traffic.midway && traffic.clients < 2) return "--midway and --lose need two clients or more";
  if (traffic.ipv6Clients > 0 && !linkCarries(request.link, IpVersion::V6)) {
    return "link type " + std::string(linkTypeName(request.link)) + " carries no IPv6 packets; choose another --link";
  }
  return std::nullopt;
}

std::optional<std::string> readRequest(Request& request, int argc, char** argv) {
  InterleavedTraffic traffic;
  for (int at = 1; at < argc; ++at) {
    if (auto error = readOption(request, traffic, argc, argv, at)) return error;
  }
  if (request.packed && !request.messages) return "--packed goes with --messages";
  if (request.lossy && !request.messages) return "--lossy goes with --messages";
  if (!request.clients) {
    if (!request.clientOption.empty()) return request.clientOption + " goes with --clients";
    return std::nullopt;
  }
  request.clients = traffic;
  return checkClients(request, traffic);
}

struct Written {
  bool capture;
  bool expectation;
};

Written writeRequested(std::FILE* out, const Request& request, std::FILE* expectation) {
  CaptureWriter writer(out, request.link, request.format);
  if (request.clients) {
    const InterleavedResult result = writeInterleavedTraffic(writer, *request.clients, expectation);
    return {result.captureWritten, result.expectationWritten};
  }
  if (request.tinySegments) return {writeTinySegments(writer, *request.tinySegments), true};
  if (request.colliding) return {writeCollidingConnections(writer, *request.colliding), true};
  if (request.messages) return {writeChatTraffic(writer, {*request.messages, request.packed, request.lossy}), true};
  return {writeSampleSession(writer), true};
}

int fail(const std::string& message) {
  std::fprintf(stderr, "vestrel-gen: %s\n", message.c_str());
  return 1;
}

// The capture, then the expectation asked for, if any.
int writeAll(std::FILE* out, const std::string& outputName, const Request& request, std::FILE* expectation) {
  const Written written = writeRequested(out, request, expectation);
  if (!written.capture) return fail("cannot write " + outputName + ": " + std::strerror(errno));
  if (!written.expectation) return fail("cannot write " + request.expectPath + ": " + std::strerror(errno));
  return 0;
}

int writeToStandardOutput(const Request& request, std::FILE* expectation) {
  // A terminal would only show binary noise, and could be left in a bad state.
  if (isatty(STDOUT_FILENO) != 0) {
    return fail("will not write a binary capture to a terminal; use -o FILE or redirect the output");
  }
  return writeAll(stdout, "the capture", request, expectation);
}

int writeToFile(const Request& request, std::FILE* expectation) {
  std::FILE* out = std::fopen(request.outputPath.c_str(), "wb");
  if (out == nullptr) return fail("cannot create " + request.outputPath + ": " + std::strerror(errno));
  const int status = writeAll(out, request.outputPath, request, expectation);
  if (std::fclose(out) != 0 && status == 0) {
    return fail("cannot write " + request.outputPath + ": " + std::strerror(errno));
  }
  return status;
}

int writeOutputs(const Request& request, std::FILE* expectation) {
  return request.outputPath.empty() || request.outputPath == "-" ? writeToStandardOutput(request, expectation)
                                                                 : writeToFile(request, expectation);
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
  if (request.expectPath.empty()) return writeOutputs(request, nullptr);
  // Opened first: a path that cannot be written costs no capture.
  std::FILE* expectation = std::fopen(request.expectPath.c_str(), "w");
  if (expectation == nullptr) return fail("cannot create " + request.expectPath + ": " + std::strerror(errno));
  const int status = writeOutputs(request, expectation);
  if (std::fclose(expectation) != 0 && status == 0) {
    return fail("cannot write " + request.expectPath + ": " + std::strerror(errno));
  }
  return status;
}
