// Puts one direction of a TCP connection back in sequence order: bytes
// already delivered are dropped (retransmissions, keep-alive probes,
// overlaps), bytes ahead of the next expected one wait until the gap fills,
// and a gap that does not fill is declared lost. Of two copies of a byte the
// first one seen wins, whether it was delivered or is still waiting, so the
// stream is never a splice of two copies.
#pragma once

#include <cstdint>
#include <map>
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

// The memory that may wait ahead of a gap in one direction before the gap
// is given up, its bookkeeping included.
inline constexpr size_t kHeldMemoryLimit = size_t{256} * 1024;
// What one waiting piece costs besides its bytes: a tree node and the
// vector that holds them.
inline constexpr size_t kHeldPieceCost = 96;
// How far from the next byte data may lie when the receiver's window is not
// known (the handshake was not seen).
inline constexpr uint32_t kUnknownWindow = uint32_t{1} << 20;

enum class Placement {
  Taken,        // delivered, or held until the gap before it fills
  Duplicate,    // every byte of it delivered or waiting already
  OutOfWindow,  // too far from the next byte to be the stream's: dropped
};

class SequenceOrder {
 public:
  // The first byte to come is at sequence (after a SYN: its number plus one).
  void start(uint32_t sequence);
  bool started() const { return started_; }
  // Met mid-way: until a second segment or an acknowledgement shows where
  // the stream stands, nothing is delivered, so that a segment captured
  // before one that preceded it is not taken for the start.
  bool provisional() const { return provisional_; }
  uint32_t next() const { return next_; }

  // A segment's payload at its sequence number; window: how far past the
  // next byte its first byte may lie. Without start(), the first segment
  // seen starts the stream provisionally.
  Placement accept(uint32_t sequence, std::span<const uint8_t> payload, uint32_t window, OrderedOutput& output);
  // The receiver acknowledged every byte before acknowledged: a gap before
  // it will never fill. An acknowledgement past the end of any data seen
  // acknowledges nothing this stream knows of, and is ignored.
  void acknowledged(uint32_t acknowledged, OrderedOutput& output);
  // Whether sequence lies within window of the next byte (ahead), or no
  // further behind it than window and kUnknownWindow allow.
  bool inWindow(uint32_t sequence, uint32_t window) const;
  // The sender's data reached sequence (its FIN, or the end of a segment
  // the snapshot cut), captured or not.
  void reached(uint32_t sequence);
  // Whether sequence is the next byte expected, or the end of the furthest
  // data seen: where the sender's next segment goes.
  bool atNextByte(uint32_t sequence) const;
  // Gives up the first gap; false when nothing waits.
  bool skipFirstGap(OrderedOutput& output);
  // The connection ended: what waits behind a gap is delivered, the gap lost.
  void finish(OrderedOutput& output);

  size_t heldBytes() const { return heldBytes_; }
  // The bytes waiting and their bookkeeping: what the hold bounds count.
  size_t heldMemory() const { return heldMemory_; }

 private:
  using Position = uint64_t;
  using Pieces = std::map<Position, std::vector<uint8_t>>;
  Position positionOf(uint32_t sequence) const;
  void hold(Position position, std::span<const uint8_t> payload);
  void holdPiece(Position position, std::span<const uint8_t> piece);
  void deliverHeld(OrderedOutput& output);
  void commit(OrderedOutput& output);
  void keepWithinLimit(OrderedOutput& output);
  void noteSeen(Position end);
  void release(Pieces::iterator piece);
  bool holdsNothing() const { return held_ == nullptr || held_->empty(); }

  uint32_t next_ = 0;
  // next_ on a line that does not wrap: every byte's place in the stream.
  Position nextPosition_ = 0;
  // The end of the furthest data seen, delivered, waiting or refused.
  Position seenEnd_ = 0;
  bool started_ = false;
  bool provisional_ = false;
  uint32_t provisionalSegments_ = 0;
  // Pieces ahead of next_ by position, none overlapping another; made at
  // the first gap, so that a connection without one costs a pointer.
  std::unique_ptr<Pieces> held_;
  size_t heldBytes_ = 0;
  size_t heldMemory_ = 0;
};

}  // namespace vestrel
