// Reading a saved capture (pcap or pcapng) through the same handler that
// live capture uses, so a file prints what the live capture would have.
#pragma once

#include "capture/read_options.h"

namespace vestrel {

// Prints the messages of command.fileName and writes the log it names.
// Returns the exit status: 0, or 1 after an error reported on standard
// error (a file that cannot be read or ends inside a record, a link type
// this program does not read, a log or output that cannot be written).
int readCaptureFile(ReadCommand& command);

}  // namespace vestrel
