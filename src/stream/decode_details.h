// Chooses the decoder that completes a message's summary line.
#pragma once

#include <cstdint>

#include "capture/options.h"
#include "decode/fields.h"
#include "stream/message_reader.h"

namespace vestrel {

// The fields of an id in one direction, or nullptr when it has no decoder.
const DecoderEntry* findDecoder(uint8_t id, bool sent);

// Completes the summary line: the message's fields as the console shows
// them, or a bare newline for a message without a decoder. sent: the
// message travels toward the server.
void decodeDetails(MessageReader& reader, bool sent, const Options& options);

}  // namespace vestrel
