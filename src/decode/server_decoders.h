// Decoders of the messages the server sends to a client.
#pragma once

#include <span>

#include "decode/fields.h"

namespace vestrel {

// id -> fields for messages from port 6112.
std::span<const DecoderEntry> serverDecoders();

}  // namespace vestrel
