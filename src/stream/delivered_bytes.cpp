#include "stream/delivered_bytes.h"

#include <algorithm>

namespace vestrel {

namespace {

// How far sequence lies ahead of from, or a negative distance when behind
// (numbers wrap at 2^32).
int64_t distance(uint32_t from, uint32_t sequence) { return static_cast<int32_t>(sequence - from); }

// The payload without its first count bytes.
std::span<const uint8_t> without(std::span<const uint8_t> payload, int64_t count) {
  return count >= static_cast<int64_t>(payload.size()) ? std::span<const uint8_t>{}
                                                       : payload.subspan(static_cast<size_t>(count));
}

}  // namespace

std::span<const uint8_t> DeliveredBytes::take(Delivered& delivered, uint32_t sequence,
                                              std::span<const uint8_t> payload) {
  const int64_t behind = -distance(delivered.next, sequence);
  if (behind > 0) {
    payload = without(payload, behind);
    sequence = delivered.next;
  }
  if (payload.empty()) return payload;
  const auto size = static_cast<uint32_t>(payload.size());
  if (!delivered.ahead) {
    if (sequence == delivered.next) {
      delivered.next += size;
    } else {
      delivered = {delivered.next, sequence, sequence + size, true};
    }
    return payload;
  }
  const int64_t toRun = distance(sequence, delivered.aheadStart);
  if (toRun > 0) {
    // In the gap: what reaches into the run was delivered with it.
    if (toRun < static_cast<int64_t>(payload.size())) payload = payload.first(static_cast<size_t>(toRun));
    if (sequence != delivered.next) return payload;  // a second gap, inside the first: not remembered
    delivered.next += static_cast<uint32_t>(payload.size());
    if (delivered.next == delivered.aheadStart) delivered = {delivered.aheadEnd};
    return payload;
  }
  const int64_t pastRun = distance(sequence, delivered.aheadEnd);
  if (pastRun >= 0) {
    // From inside the run or its end: only the part past it is new.
    payload = without(payload, pastRun);
    delivered.aheadEnd += static_cast<uint32_t>(payload.size());
    return payload;
  }
  // Beyond the run, past another gap: the first gap is given up.
  delivered = {delivered.aheadEnd, sequence, sequence + size, true};
  return payload;
}

DeliveredBytes::Delivered& DeliveredBytes::find(const ConnectionKey& key, bool& isNew) {
  isNew = false;
  for (auto* entry : recent_) {
    if (entry != nullptr && entry->first == key) return entry->second;
  }
  if (directions_.size() >= kCapacity) {
    directions_.clear();
    recent_[0] = recent_[1] = nullptr;
  }
  auto [found, inserted] = directions_.try_emplace(key);
  isNew = inserted;
  recent_[1] = recent_[0];
  recent_[0] = &*found;
  return found->second;
}

std::span<const uint8_t> DeliveredBytes::newPart(const TcpSegment& segment) {
  const bool syn = segment.has(kTcpSyn);
  if (segment.payload.empty() && !syn) return segment.payload;
  bool isNew = false;
  Delivered& delivered =
      find({segment.source, segment.destination, segment.sourcePort, segment.destinationPort}, isNew);
  // A SYN's own number is the one before its first byte.
  const uint32_t sequence = segment.sequence + (syn ? 1 : 0);
  if (isNew || syn) {
    delivered = {sequence + static_cast<uint32_t>(segment.payload.size())};
    return segment.payload;
  }
  return take(delivered, sequence, segment.payload);
}

}  // namespace vestrel
