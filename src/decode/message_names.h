#pragma once

#include <cstdint>

#include "decode/display_settings.h"

namespace vestrel {

// The protocol name of a message id in a decoder set, "SID_UNK0x%2.2X" for
// ids without one. Valid for the whole run.
const char* messageName(uint8_t id, DecoderSet set);

}  // namespace vestrel
