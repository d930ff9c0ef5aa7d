// Chooses the decoder that completes a message's summary line.
#pragma once

#include <cstdint>

#include "decode/display_settings.h"
#include "decode/fields.h"
#include "decode/message_reader.h"

namespace vestrel {

// The fields of an id in one direction, or nullptr when it has no decoder.
const DecoderEntry* findDecoder(uint8_t id, bool sent);

// Completes the summary line: the message's fields as the console shows
// them, or a bare newline for a message without a decoder. sent: the
// message travels toward the server.
void decodeDetails(MessageReader& reader, bool sent, const DisplaySettings& options);

// The message's fields as one JSON object, {} for a message without a
// decoder.
void decodeJsonFields(MessageReader& reader, bool sent, const DisplaySettings& options);

}  // namespace vestrel
