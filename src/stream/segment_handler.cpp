#include "stream/segment_handler.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "log/hex_dump.h"
#include "stream/console.h"
#include "stream/decode_details.h"
#include "stream/message_names.h"

namespace vestrel {

namespace {

const char* directionText(bool sent) { return sent ? "Sent" : "Rcvd"; }

// The start of every summary line depends only on direction and id, so
// each is formatted once, when first needed.
std::string_view summaryStart(bool sent, uint8_t id) {
  static std::array<std::string, 512> starts;
  std::string& start = starts[(sent ? 256U : 0U) + id];
  if (start.empty()) {
    char text[128];
    const int length =
        std::snprintf(text, sizeof text, "%s -> [0x%2.2X] %-20s -> ", directionText(sent), id, messageName(id));
    if (length > 0) start.assign(text, std::min(static_cast<size_t>(length), sizeof text - 1));
  }
  return start;
}

void printSummary(bool sent, uint8_t id) { consoleWrite(summaryStart(sent, id)); }

// A log that cannot be written (a full disk, a lost share, a pipe whose
// reader left) is given up with one message, rather than left with gaps
// nobody knows about.
void stopLogging(Monitor& monitor) {
  consolePrint("Error: Unable to write to log file %s (%s); logging stopped.\n", monitor.options.logFileName.c_str(),
               std::strerror(errno));
  monitor.log = nullptr;
}

// The message's text leaves in one write to the stream: a terminal sees
// whole messages, and when each message is pushed out at once, so is its dump.
void finishMessage(Monitor& monitor) {
  if (monitor.flushEachMessage) {
    flushOutputs(monitor);
  } else {
    static_cast<void>(console());  // hands the text over, unflushed
  }
}

void logMessage(Monitor& monitor, const MessageReader& reader, bool sent) {
  if (monitor.log == nullptr || writeHexDump(monitor.log, reader, directionText(sent))) return;
  stopLogging(monitor);
}

void printMessage(Monitor& monitor, bool sent) {
  MessageReader reader;
  monitor.buffer.extract(reader);
  printSummary(sent, reader.id());
  decodeDetails(reader, sent, monitor.options);
  logMessage(monitor, reader, sent);
  finishMessage(monitor);
}

// A real message longer than the buffer: shown by its header, its bytes
// passed over as they arrive.
void printTooLong(Monitor& monitor, bool sent) {
  const MessageHeader header = monitor.buffer.frontHeader();
  printSummary(sent, header.id);
  consolePrint("(too long to decode: %u bytes)\n", static_cast<unsigned>(header.length));
  monitor.buffer.dropFrontMessage();
  finishMessage(monitor);
}

// Takes out and prints every complete message; gets back into step when the
// front of the stream cannot be a message.
void drainMessages(Monitor& monitor, bool sent) {
  for (;;) {
    switch (monitor.buffer.front()) {
      case StreamBuffer::Front::NeedMore: return;
      case StreamBuffer::Front::Message: printMessage(monitor, sent); break;
      case StreamBuffer::Front::OutOfStep: monitor.buffer.dropToNextMarker(); break;
      case StreamBuffer::Front::TooLong: printTooLong(monitor, sent); break;
    }
  }
}

bool atMessageBoundary(const StreamBuffer& buffer) { return buffer.count() == 0 && buffer.discardOwed() == 0; }

std::span<const uint8_t> skipToFirstMarker(std::span<const uint8_t> payload) {
  const auto marker = std::find(payload.begin(), payload.end(), MessageHeader::kMarker);
  return payload.subspan(static_cast<size_t>(marker - payload.begin()));
}

bool opensWithHeader(std::span<const uint8_t> payload) {
  if (payload.size() < static_cast<size_t>(MessageHeader::kLength)) return false;
  const MessageHeader header = MessageHeader::read(payload.data());
  return header.marker == MessageHeader::kMarker && header.length >= MessageHeader::kLength;
}

// Fewer bytes than a header wait, and the segment opens with a header of
// its own: the waiting bytes are what garbage left, and joined to this
// header they would make a bogus one that swallows the stream behind it.
// A real header cut after its first bytes goes on with its id or length,
// which rarely reads as a whole header again.
bool leftoverBeforeHeader(const StreamBuffer& buffer, std::span<const uint8_t> payload) {
  const bool headerUnfinished = buffer.count() > 0 && buffer.count() < MessageHeader::kLength;
  return headerUnfinished && buffer.discardOwed() == 0 && opensWithHeader(payload);
}

}  // namespace

void flushOutputs(Monitor& monitor) {
  if (monitor.log != nullptr && std::fflush(monitor.log) != 0) stopLogging(monitor);
  flushConsole();
}

void handleTcpSegment(Monitor& monitor, const TcpSegment& segment) {
  if (segment.destinationPort != kBncsPort && segment.sourcePort != kBncsPort) return;
  if (segment.cutShort) ++monitor.cutSegments;
  std::span<const uint8_t> payload = segment.payload;
  if (payload.empty()) return;
  if (monitor.syncPending) {
    payload = skipToFirstMarker(payload);
    monitor.syncPending = false;
  }
  // A lone byte between messages (the protocol byte a client sends on
  // connecting) is no part of any message. Inside a message it is: a busy
  // sender's stream can be cut into segments anywhere, one byte included.
  // A lone marker is the start of the next message: clients that send the
  // marker, id, length and body with separate writes put it alone.
  if (payload.size() == 1 && payload[0] != MessageHeader::kMarker && atMessageBoundary(monitor.buffer)) return;

  if (leftoverBeforeHeader(monitor.buffer, payload)) monitor.buffer.dropAllPending();

  const bool sent = segment.destinationPort == kBncsPort;
  // Feed the payload in pieces that fit, taking the messages out between
  // pieces, so no byte is lost to a full buffer.
  while (!payload.empty()) {
    const size_t piece = std::min(payload.size(), monitor.buffer.acceptable());
    monitor.buffer.append(payload.data(), static_cast<int32_t>(piece));
    payload = payload.subspan(piece);
    drainMessages(monitor, sent);
  }
}

void handleSegment(Monitor& monitor, std::span<const uint8_t> frame) {
  if (const auto segment = findTcpSegment(monitor.linkLayer, frame)) handleTcpSegment(monitor, *segment);
}

void handleSegment(unsigned char* user, const pcap_pkthdr* header, const unsigned char* bytes) {
  handleSegment(*reinterpret_cast<Monitor*>(user), std::span<const uint8_t>(bytes, header->caplen));
}

}  // namespace vestrel
