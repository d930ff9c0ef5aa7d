// Opening the chosen device and running the capture loop.
#pragma once

#include "capture/options.h"

namespace vestrel {

// Chooses and opens the device that options name, prints the banner and
// prints every message until the capture ends (SIGINT or SIGTERM included).
// Failures are printed; there is nothing to return.
void runCapture(Options& options);

}  // namespace vestrel
