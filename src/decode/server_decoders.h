// Decoders of the messages the server sends to a client.
#pragma once

#include <span>

#include "stream/decode_details.h"

namespace vestrel {

// id -> decoder for messages from port 6112.
std::span<const DecoderEntry> serverDecoders();

}  // namespace vestrel
