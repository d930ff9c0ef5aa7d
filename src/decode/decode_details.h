// Decodes a message's fields with the decoder set the display settings
// name: the summary line's completion on the console, or a JSON object.
#pragma once

#include <cstdint>

#include "decode/display_settings.h"
#include "decode/message_reader.h"

namespace vestrel {

// Completes the summary line: the message's fields as the console shows
// them, or a bare newline for a message without a decoder. sent: the
// message travels toward the server.
void decodeDetails(MessageReader& reader, bool sent, const DisplaySettings& options);

// The message's fields as one JSON object, {} for a message without a
// decoder.
void decodeJsonFields(MessageReader& reader, bool sent, const DisplaySettings& options);

}  // namespace vestrel
