// The tests build wire bytes with the builders the capture generator uses:
// msg(0x0E, cstr("/whoami")) is a whole SID_CHATCOMMAND message.
#pragma once

#include "wire_bytes.h"

namespace vestrel::test {
using namespace vestrel::wire;  // NOLINT(google-build-using-namespace)
}  // namespace vestrel::test
