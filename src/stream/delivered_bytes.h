// For the one shared stream: remembers, for each direction of each
// connection, which bytes it has already delivered, so that a
// retransmission or a keep-alive probe does not put them into the stream a
// second time. A segment that comes late to fill a gap is still taken.
#pragma once

#include <cstdint>
#include <span>
#include <unordered_map>

#include "stream/connection_table.h"
#include "stream/frame.h"

namespace vestrel {

class DeliveredBytes {
 public:
  // The part of the segment's payload its direction has not delivered yet.
  std::span<const uint8_t> newPart(const TcpSegment& segment);

  // Directions remembered at most; past it, all are forgotten at once.
  static constexpr size_t kCapacity = 65536;

 private:
  // Bytes before next were all delivered; of those after it, one run
  // [aheadStart, aheadEnd) that came before the gap filled.
  struct Delivered {
    uint32_t next = 0;
    uint32_t aheadStart = 0;
    uint32_t aheadEnd = 0;
    bool ahead = false;
  };
  static std::span<const uint8_t> take(Delivered& delivered, uint32_t sequence, std::span<const uint8_t> payload);

  Delivered& find(const ConnectionKey& key, bool& isNew);

  // Keyed by the segment's source as the client and its destination as the server.
  std::unordered_map<ConnectionKey, Delivered, ConnectionKeyHash> directions_;
  // The two directions looked up last (a conversation's two take turns),
  // found again without hashing; entries stay put in the map until it is cleared.
  std::pair<const ConnectionKey, Delivered>* recent_[2] = {nullptr, nullptr};
};

}  // namespace vestrel
