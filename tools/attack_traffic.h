// Captures of what anyone who can send packets to a chat server can make
// its monitor read: runs of tiny segments behind a gap, and connections
// whose keys collide in a hash without a secret.
#pragma once

#include <cstddef>

#include "capture_writer.h"

namespace vestrel::wire {

// One connection: after its handshake and protocol byte, chat pings sent as
// count one-byte segments, the first of them captured last, so that every
// other waits behind a one-byte gap until it comes.
bool writeTinySegments(CaptureWriter& writer, size_t count);

// count IPv6 connections from one /64, each opened, carrying one ping and
// closed, whose addresses and ports were chosen so that their keys collide
// in the unkeyed multiply-and-fold hash the connection table once used.
bool writeCollidingConnections(CaptureWriter& writer, size_t count);

}  // namespace vestrel::wire
