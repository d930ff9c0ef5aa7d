// Gives the calling process a network namespace of its own with lo up, so
// test traffic never leaves it and no two tests share port 6112.
#pragma once

#include <optional>
#include <string>

namespace vestrel::live {

// Enters a fresh namespace (every call makes a new one) and brings lo up.
// Nothing on success; otherwise why live capture cannot run here.
std::optional<std::string> enterPrivateNetwork();

// VESTREL_REQUIRE_LIVE=1: a missing namespace is a failure, not a skip.
bool liveCaptureRequired();

}  // namespace vestrel::live
