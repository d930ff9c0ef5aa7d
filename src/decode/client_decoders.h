// Decoders of the messages a client sends to the server.
#pragma once

#include <span>

#include "stream/decode_details.h"

namespace vestrel {

// id -> decoder for messages toward port 6112.
std::span<const DecoderEntry> clientDecoders();

// SID_PING carries the same cookie both ways; the server table uses it too.
void decodePing(MessageReader& reader, const Options& options);

}  // namespace vestrel
