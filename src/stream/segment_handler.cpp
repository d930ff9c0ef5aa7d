#include "stream/segment_handler.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace vestrel {

namespace {

// Takes out and prints every complete message; gets back into step when the
// front of the stream cannot be a message.
void drainMessages(Monitor& monitor, bool sent) {
  for (;;) {
    switch (monitor.buffer.front()) {
      case StreamBuffer::Front::NeedMore: return;
      case StreamBuffer::Front::Message: {
        MessageReader reader;
        monitor.buffer.extract(reader);
        monitor.printer.printMessage(reader, sent);
        break;
      }
      case StreamBuffer::Front::OutOfStep: monitor.buffer.dropToNextMarker(); break;
      case StreamBuffer::Front::TooLong:
        // A real message longer than the buffer: shown by its header, its
        // bytes passed over as they arrive.
        monitor.printer.printTooLong(monitor.buffer.frontHeader(), sent);
        monitor.buffer.dropFrontMessage();
        break;
    }
  }
}

bool isChatPort(const Monitor& monitor, uint16_t port) {
  return std::find(monitor.ports.begin(), monitor.ports.end(), port) != monitor.ports.end();
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

void flushOutputs(Monitor& monitor) { monitor.printer.flush(); }

void handleTcpSegment(Monitor& monitor, const TcpSegment& segment) {
  const bool sent = isChatPort(monitor, segment.destinationPort);
  if (!sent && !isChatPort(monitor, segment.sourcePort)) return;
  // The shared stream follows IPv4 traffic, as it always has.
  if (segment.isIpv6()) return;
  if (segment.cutShort) ++monitor.cutSegments;
  if (segment.headerCut) return;
  // The shared stream trusts the IP length as it always has: a total
  // length of 0 leaves no payload.
  if (segment.lengthFromFrame && !segment.payload.empty()) {
    TcpSegment empty = segment;
    empty.payload = {};
    handleTcpSegment(monitor, empty);
    return;
  }
  std::span<const uint8_t> payload = monitor.delivered.newPart(segment);
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

// NOLINTNEXTLINE(readability-non-const-parameter): the library's callback type
void handleSegment(unsigned char* user, const pcap_pkthdr* header, const unsigned char* bytes) {
  auto& monitor = *reinterpret_cast<Monitor*>(user);
  monitor.printer.setFrameTime(header->ts);
  handleSegment(monitor, std::span<const uint8_t>(bytes, header->caplen));
}

}  // namespace vestrel
