// Gives the calling process a network namespace of its own with lo up, so
// test traffic never leaves it and no two tests share port 6112.
#pragma once

#include <optional>
#include <string>

namespace vestrel::live {

// Enters a fresh namespace (every call makes a new one), brings lo up, and
// keeps TCP there from sending a segment twice while a case runs.
// Nothing on success; otherwise why live capture cannot run here.
std::optional<std::string> enterPrivateNetwork();

// How many TCP segments the kernel has sent again in the namespace (timeouts
// and loss probes), or -1 when the count cannot be read. A segment sent again
// reaches the capture twice, and the program shows it twice.
long retransmittedSegments();

// VESTREL_REQUIRE_LIVE=1: a missing namespace is a failure, not a skip.
bool liveCaptureRequired();

}  // namespace vestrel::live
