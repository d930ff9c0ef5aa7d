// The sample capture: a realistic logon and chat that shows the monitor's
// decoded messages, cut into segments the ways real stacks cut them.
#pragma once

#include "capture_writer.h"

namespace vestrel::wire {

// Two clients on one server. The first (192.0.2.10) logs on with the newer
// account logon, enters the chat and talks; while it does, the second
// (192.0.2.77) connects, sends the protocol byte and its first message in
// one segment, and logs on with the older password logon. Some messages are
// packed several to a segment, some cut over two. Both connections close.
bool writeSampleSession(CaptureWriter& writer);

}  // namespace vestrel::wire
