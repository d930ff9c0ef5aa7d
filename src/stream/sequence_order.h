// Puts one direction of a TCP connection back in sequence order: bytes
// already delivered are dropped (retransmissions, keep-alive probes,
// overlaps: the first copy wins), bytes ahead of the next expected one
// wait until the gap fills, and a gap that does not fill is declared lost.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vestrel {

// Where a direction's bytes go once they are in order.
class OrderedOutput {
 public:
  virtual void bytes(std::span<const uint8_t> bytes) = 0;
  // count bytes will never come; the next bytes follow the gap.
  virtual void lost(uint64_t count) = 0;

 protected:
  ~OrderedOutput() = default;
};

// How many bytes may wait ahead of a gap before the gap is given up.
inline constexpr size_t kHeldBytesLimit = size_t{256} * 1024;

class SequenceOrder {
 public:
  SequenceOrder();
  ~SequenceOrder();
  SequenceOrder(SequenceOrder&&) noexcept;
  SequenceOrder& operator=(SequenceOrder&&) noexcept;

  // The first byte to come is at sequence (after a SYN: its number plus one).
  void start(uint32_t sequence);
  bool started() const { return started_; }
  // A segment's payload at its sequence number. Without start(), the first
  // segment seen sets the start.
  void accept(uint32_t sequence, std::span<const uint8_t> payload, OrderedOutput& output);
  // The connection ended: what waits behind a gap is delivered, the gap lost.
  void finish(OrderedOutput& output);
  size_t heldBytes() const;

 private:
  struct Held;
  void deliverInOrder(uint32_t sequence, std::span<const uint8_t> payload, OrderedOutput& output);
  void hold(uint32_t sequence, std::span<const uint8_t> payload);
  void deliverHeld(OrderedOutput& output);
  void skipToHeld(OrderedOutput& output);

  uint32_t next_ = 0;
  bool started_ = false;
  // Segments ahead of next_, by distance from it; allocated only when one waits.
  std::unique_ptr<std::vector<Held>> held_;
};

}  // namespace vestrel
