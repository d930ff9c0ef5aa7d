#include "stream/sequence_order.h"

#include <algorithm>
#include <limits>

namespace vestrel {

namespace {

// Where positions start, far enough from zero that a stream met mid-way
// can move its start back.
constexpr uint64_t kOrigin = uint64_t{1} << 40;
constexpr uint64_t kNoLimit = std::numeric_limits<uint64_t>::max();
// Pieces smaller than this take on the bytes that follow them: a run of
// tiny segments costs a few entries, a run of large ones no copying.
constexpr size_t kJoinBelow = 4096;

}  // namespace

void SequenceOrder::start(uint32_t sequence) {
  next_ = sequence;
  nextPosition_ = seenEnd_ = kOrigin;
  started_ = true;
  provisional_ = false;
  provisionalSegments_ = 0;
  held_.reset();
  heldBytes_ = heldMemory_ = 0;
}

// Sequence numbers wrap at 2^32: a number up to half the space past next_
// is ahead of it, anything else behind.
SequenceOrder::Position SequenceOrder::positionOf(uint32_t sequence) const {
  return nextPosition_ + static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(sequence - next_)));
}

bool SequenceOrder::inWindow(uint32_t sequence, uint32_t window) const {
  if (!started_) return true;
  const int64_t distance = static_cast<int32_t>(sequence - next_);
  if (distance >= 0) return distance <= int64_t{window};
  return -distance <= int64_t{std::max(window, kUnknownWindow)};
}

void SequenceOrder::reached(uint32_t sequence) {
  if (started_) noteSeen(positionOf(sequence));
}

bool SequenceOrder::atNextByte(uint32_t sequence) const {
  return sequence == next_ || positionOf(sequence) == seenEnd_;
}

void SequenceOrder::noteSeen(Position end) { seenEnd_ = std::max(seenEnd_, end); }

Placement SequenceOrder::accept(uint32_t sequence, std::span<const uint8_t> payload, uint32_t window,
                                OrderedOutput& output) {
  if (payload.empty()) return Placement::Duplicate;
  if (!started_) {
    start(sequence);
    provisional_ = true;
  }
  const Position position = positionOf(sequence);
  const Position end = position + payload.size();
  if (!inWindow(sequence, window)) {
    if (position > nextPosition_) noteSeen(end);
    return Placement::OutOfWindow;
  }
  noteSeen(end);
  if (provisional_) {
    if (position < nextPosition_) {
      next_ = sequence;
      nextPosition_ = position;
    }
    hold(position, payload);
    if (++provisionalSegments_ >= 2 || heldMemory_ > kHeldMemoryLimit) {
      commit(output);
      keepWithinLimit(output);
    }
    return Placement::Taken;
  }
  if (end <= nextPosition_) return Placement::Duplicate;
  if (position <= nextPosition_ && holdsNothing()) {
    // The common case: the next segment in order goes straight out.
    payload = payload.subspan(nextPosition_ - position);
    next_ += static_cast<uint32_t>(payload.size());
    nextPosition_ += payload.size();
    output.bytes(payload);
    return Placement::Taken;
  }
  const size_t heldBefore = heldBytes_;
  hold(position, payload);
  if (heldBytes_ == heldBefore) return Placement::Duplicate;
  deliverHeld(output);
  keepWithinLimit(output);
  return Placement::Taken;
}

// Keeps the bytes of the segment that neither were delivered nor wait
// already: where copies overlap, the first one stays.
void SequenceOrder::hold(Position position, std::span<const uint8_t> payload) {
  if (position < nextPosition_) {
    payload = payload.subspan(std::min<size_t>(payload.size(), nextPosition_ - position));
    position = nextPosition_;
  }
  if (held_ == nullptr) held_ = std::make_unique<Pieces>();
  Pieces& held = *held_;
  auto after = held.upper_bound(position);
  if (after != held.begin()) {
    const auto before = std::prev(after);
    const Position beforeEnd = before->first + before->second.size();
    if (beforeEnd > position) {
      const size_t covered = std::min<size_t>(payload.size(), beforeEnd - position);
      payload = payload.subspan(covered);
      position += covered;
    }
  }
  while (!payload.empty()) {
    const auto piece = held.lower_bound(position);
    const Position limit = piece == held.end() ? kNoLimit : piece->first;
    if (limit > position) {
      const size_t length = static_cast<size_t>(std::min<uint64_t>(payload.size(), limit - position));
      holdPiece(position, payload.first(length));
      payload = payload.subspan(length);
      position += length;
      continue;
    }
    const size_t covered = std::min<size_t>(payload.size(), piece->second.size());
    payload = payload.subspan(covered);
    position += covered;
  }
}

// A piece that goes on from a small one before it joins it.
void SequenceOrder::holdPiece(Position position, std::span<const uint8_t> piece) {
  Pieces& held = *held_;
  const auto after = held.lower_bound(position);
  heldBytes_ += piece.size();
  if (after != held.begin()) {
    auto& before = *std::prev(after);
    if (before.first + before.second.size() == position && before.second.size() < kJoinBelow) {
      heldMemory_ -= before.second.capacity();
      before.second.insert(before.second.end(), piece.begin(), piece.end());
      heldMemory_ += before.second.capacity();
      return;
    }
  }
  const auto added = held.emplace_hint(after, position, std::vector<uint8_t>(piece.begin(), piece.end()));
  heldMemory_ += added->second.capacity() + kHeldPieceCost;
}

void SequenceOrder::release(Pieces::iterator piece) {
  heldBytes_ -= piece->second.size();
  heldMemory_ -= piece->second.capacity() + kHeldPieceCost;
  held_->erase(piece);
}

// Delivers the waiting pieces that the stream has reached.
void SequenceOrder::deliverHeld(OrderedOutput& output) {
  while (!holdsNothing() && held_->begin()->first <= nextPosition_) {
    const auto first = held_->begin();
    const Position end = first->first + first->second.size();
    if (end <= nextPosition_) {
      release(first);
      continue;
    }
    const size_t offset = static_cast<size_t>(nextPosition_ - first->first);
    const std::vector<uint8_t> bytes = std::move(first->second);
    heldMemory_ -= bytes.capacity();
    heldBytes_ -= bytes.size();
    heldMemory_ -= kHeldPieceCost;
    held_->erase(first);
    next_ += static_cast<uint32_t>(end - nextPosition_);
    nextPosition_ = end;
    output.bytes(std::span(bytes).subspan(offset));
  }
}

void SequenceOrder::keepWithinLimit(OrderedOutput& output) {
  while (heldMemory_ > kHeldMemoryLimit && skipFirstGap(output)) {}
}

void SequenceOrder::commit(OrderedOutput& output) {
  provisional_ = false;
  deliverHeld(output);
}

bool SequenceOrder::skipFirstGap(OrderedOutput& output) {
  if (provisional_) commit(output);
  if (holdsNothing()) return false;
  const Position first = held_->begin()->first;
  if (first > nextPosition_) {
    const uint64_t gap = first - nextPosition_;
    next_ += static_cast<uint32_t>(gap);
    nextPosition_ = first;
    output.lost(gap);
  }
  deliverHeld(output);
  return true;
}

void SequenceOrder::acknowledged(uint32_t acknowledged, OrderedOutput& output) {
  if (!started_) return;
  const Position position = positionOf(acknowledged);
  if (position <= nextPosition_ || position > seenEnd_) return;
  if (provisional_) commit(output);
  while (nextPosition_ < position && !holdsNothing() && held_->begin()->first < position) skipFirstGap(output);
  if (nextPosition_ < position) {
    const uint64_t gap = position - nextPosition_;
    next_ = acknowledged;
    nextPosition_ = position;
    output.lost(gap);
    deliverHeld(output);
  }
}

void SequenceOrder::finish(OrderedOutput& output) {
  while (skipFirstGap(output)) {}
}

}  // namespace vestrel
