#include "stream/sequence_order.h"

#include <algorithm>

namespace vestrel {

struct SequenceOrder::Held {
  uint32_t sequence;
  std::vector<uint8_t> bytes;
};

namespace {

// Sequence numbers wrap at 2^32: a number up to half the space past
// another is ahead of it, anything else behind.
bool isAhead(uint32_t sequence, uint32_t next) {
  const uint32_t distance = sequence - next;
  return distance != 0 && distance < 0x80000000U;
}

}  // namespace

SequenceOrder::SequenceOrder() = default;
SequenceOrder::~SequenceOrder() = default;
SequenceOrder::SequenceOrder(SequenceOrder&&) noexcept = default;
SequenceOrder& SequenceOrder::operator=(SequenceOrder&&) noexcept = default;

void SequenceOrder::start(uint32_t sequence) {
  next_ = sequence;
  started_ = true;
  held_.reset();
}

size_t SequenceOrder::heldBytes() const {
  size_t total = 0;
  if (held_) {
    for (const Held& segment : *held_) total += segment.bytes.size();
  }
  return total;
}

void SequenceOrder::accept(uint32_t sequence, std::span<const uint8_t> payload, OrderedOutput& output) {
  if (payload.empty()) return;
  if (!started_) start(sequence);
  if (isAhead(sequence, next_)) {
    hold(sequence, payload);
    while (heldBytes() > kHeldBytesLimit) skipToHeld(output);
    return;
  }
  deliverInOrder(sequence, payload, output);
  if (held_) deliverHeld(output);
}

// Delivers what of a segment at or behind next_ is new.
void SequenceOrder::deliverInOrder(uint32_t sequence, std::span<const uint8_t> payload, OrderedOutput& output) {
  const uint32_t behind = next_ - sequence;
  if (behind >= payload.size()) return;  // every byte delivered before
  payload = payload.subspan(behind);
  next_ += static_cast<uint32_t>(payload.size());
  output.bytes(payload);
}

// Keeps a segment that lies ahead of a gap, in order of distance from
// next_; that order holds while next_ moves on, since every segment kept is
// ahead of it.
void SequenceOrder::hold(uint32_t sequence, std::span<const uint8_t> payload) {
  if (!held_) held_ = std::make_unique<std::vector<Held>>();
  const uint32_t distance = sequence - next_;
  const auto place = std::find_if(held_->begin(), held_->end(),
                                  [&](const Held& segment) { return segment.sequence - next_ >= distance; });
  // A second copy of a waiting segment adds nothing.
  if (place != held_->end() && place->sequence == sequence && place->bytes.size() >= payload.size()) return;
  held_->insert(place, Held{sequence, std::vector<uint8_t>(payload.begin(), payload.end())});
}

// Delivers the waiting segments that the stream has reached.
void SequenceOrder::deliverHeld(OrderedOutput& output) {
  while (held_ && !held_->empty() && !isAhead(held_->front().sequence, next_)) {
    const Held segment = std::move(held_->front());
    held_->erase(held_->begin());
    deliverInOrder(segment.sequence, segment.bytes, output);
  }
  if (held_ && held_->empty()) held_.reset();
}

// Gives up the gap before the first waiting segment.
void SequenceOrder::skipToHeld(OrderedOutput& output) {
  if (!held_ || held_->empty()) return;
  const uint32_t gap = held_->front().sequence - next_;
  next_ = held_->front().sequence;
  output.lost(gap);
  deliverHeld(output);
}

void SequenceOrder::finish(OrderedOutput& output) {
  while (held_ && !held_->empty()) skipToHeld(output);
  held_.reset();
}

}  // namespace vestrel
