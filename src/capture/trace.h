// vestrel-trace's capture: live from a device or from a capture file,
// through the kernel or library filter, every connection followed on its own
// (or the one shared stream), every frame that passed the filter saved when
// asked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/live_device.h"
#include "capture/saved_frames.h"
#include "stream/connection_tracker.h"
#include "stream/message_printer.h"

namespace vestrel {

inline constexpr const char* kTraceProgramName = "vestrel-trace";

struct TraceSettings {
  OutputSettings output;         // -v, --whole-texts, --log (named here, created by runTrace)
  PrintSettings print;           // -t..., -q, -x, -X, --json
  std::string readFile;          // -r: a capture file, "-" for standard input
  std::string device;            // -i: a name or the number -D prints; empty: the first device
  std::string dropUser;          // -Z: the user to run as once all is open; empty: the usual one
  std::vector<uint16_t> ports;   // --port: the chat ports
  std::string filterExpression;  // the trailing arguments, joined
  uint64_t count = 0;            // -c: stop after this many messages; 0: never
  SaveSettings save;             // -w: save the frames that passed the filter
  std::string displayFilter;     // -Y: show only the messages this expression takes
  bool stats = false;            // --stats: the counts per message and connection at the end
  bool singleStream = false;     // --single-stream
  bool lineBuffered = false;     // -l, -U: each message pushed out at once
  // --reassembly-memory: what all connections together may hold behind gaps.
  size_t heldMemory = kDefaultTotalHeldMemory;
  // -s, -p, -B; promiscuous unless -p, as with tcpdump.
  LiveSettings live = {.promiscuous = true};
};

// Runs the capture the settings describe and returns the exit status: 0,
// or 1 after an error said on standard error.
int runTrace(TraceSettings& settings);

// -D: the devices as tcpdump lists them, "1.name (description) [Up,
// Running]", one a line. Returns the exit status.
int listTraceDevices();

}  // namespace vestrel
