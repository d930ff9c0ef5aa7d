// The decoder tables of each set, by direction and id: the one registry of
// message fields that every output reads (the console, JSON, and any
// consumer that names fields by their keys).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "decode/display_settings.h"
#include "decode/fields.h"

namespace vestrel {

// Every id of a direction, nullptr where the set has no decoder.
using DecoderIndex = std::array<const DecoderEntry*, 256>;

// sent: the direction toward the server.
const DecoderIndex& decoderIndex(DecoderSet set, bool sent);

// The fields of an id in one direction, or nullptr when it has no decoder.
inline const DecoderEntry* findDecoder(uint8_t id, bool sent, DecoderSet set) { return decoderIndex(set, sent)[id]; }

// The full set's tables by topic, each message and direction in one of
// them; the classic messages come from the classic tables.
struct TopicDecoders {
  std::span<const DecoderEntry> client;
  std::span<const DecoderEntry> server;
};
TopicDecoders logonDecoders();
TopicDecoders chatDecoders();
TopicDecoders gameDecoders();
TopicDecoders filesAndScriptsDecoders();
TopicDecoders realmAndProfileDecoders();
TopicDecoders friendAndClanDecoders();

}  // namespace vestrel
