#pragma once

#include <cstdint>

namespace vestrel {

// The protocol name of a message id, "SID_UNK0x%2.2X" for ids we don't know.
// Valid for the whole run.
const char* messageName(uint8_t id);

}  // namespace vestrel
