// The capture callback: keeps the TCP segments of the chat port, joins their
// payloads into one stream and prints every message cut out of it.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "stream/delivered_bytes.h"
#include "stream/frame.h"
#include "stream/link_layer.h"
#include "stream/message_printer.h"
#include "stream/stream_buffer.h"

struct pcap_pkthdr;

namespace vestrel {

inline constexpr uint16_t kBncsPort = 6112;

// Everything the handler keeps between frames.
struct Monitor {
  explicit Monitor(const OutputSettings& settings, PrintSettings print = {}) : printer(settings, std::move(print)) {}

  MessagePrinter printer;
  // The chat ports: a segment to one of them travels toward the server.
  std::vector<uint16_t> ports{kBncsPort};
  // How the capture's frames begin.
  LinkLayer linkLayer = LinkLayer::Ethernet;
  StreamBuffer buffer;
  // What each connection direction has delivered, so no byte is taken twice.
  DeliveredBytes delivered;
  // Until the first payload is seen the stream may start mid-message, so
  // that payload is searched for the first marker.
  bool syncPending = true;
  // Segments of the chat port whose payload the capture cut short.
  uint64_t cutSegments = 0;
};

// Pushes out what the console and the log hold; a log that fails now is
// given up with a message on the console.
void flushOutputs(Monitor& monitor);

// One captured frame of the monitor's link layer.
void handleSegment(Monitor& monitor, std::span<const uint8_t> frame);

// One TCP segment found in a frame.
void handleTcpSegment(Monitor& monitor, const TcpSegment& segment);

// The capture library's callback; user points at the Monitor.
void handleSegment(unsigned char* user, const pcap_pkthdr* header, const unsigned char* bytes);

}  // namespace vestrel
