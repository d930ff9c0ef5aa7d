// Decoders of the messages the server sends to a client.
#pragma once

#include <span>

#include "decode/fields.h"

namespace vestrel {

// id -> fields for messages from port 6112.
std::span<const DecoderEntry> serverDecoders();

// The classic messages the full set shows with the fields their classic
// line leaves out (on the console with -u, after the classic text).
std::span<const DecoderEntry> extendedServerDecoders();

}  // namespace vestrel
