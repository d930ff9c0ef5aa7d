// Decoders of the messages a client sends to the server.
#pragma once

#include <span>

#include "decode/fields.h"

namespace vestrel {

// id -> fields for messages toward port 6112.
std::span<const DecoderEntry> clientDecoders();

// Those of the classic messages the full set shows with more fields.
std::span<const DecoderEntry> extendedClientDecoders();

// SID_PING carries the same cookie both ways; the server table uses it too.
inline constexpr Field kPingFields[] = {
    {.form = Form::Number, .key = "ping_value", .format = "Ping value: 0x%X\n"},
};

}  // namespace vestrel
