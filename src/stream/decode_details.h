// Chooses the decoder that completes a message's summary line.
#pragma once

#include <cstdint>
#include <span>

#include "capture/options.h"
#include "stream/message_reader.h"

namespace vestrel {

// A decoder reads the body of one message and prints the rest of its line,
// and any continuation lines, ending with a newline.
using Decoder = void (*)(MessageReader& reader, const Options& options);

struct DecoderEntry {
  uint8_t id;
  Decoder decoder;
};

// The decoder for an id in one direction, or nullptr.
Decoder findDecoder(uint8_t id, bool sent);

// Completes the summary line: the decoder's text, or a bare newline for a
// message without one. sent: the message travels toward the server.
void decodeDetails(MessageReader& reader, bool sent, const Options& options);

}  // namespace vestrel
