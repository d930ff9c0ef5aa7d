// Opening the chosen device and running the capture loop.
#pragma once

#include <cstdint>

#include "stream/message_printer.h"

namespace vestrel {

// Chooses and opens the device that options name, gives up root or the
// capture capabilities, prints the banner and prints every message until the
// capture ends (SIGINT or SIGTERM included). Failures are printed. The exit
// status: 1 when privileges could not be given up (nothing was captured),
// otherwise 0.
int runCapture(int32_t deviceNumber, const OutputSettings& output);

}  // namespace vestrel
