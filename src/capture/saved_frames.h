// The frames vestrel-trace saves with -w: one pcap file, standard output,
// or a rotation of files as tcpdump makes them (-C size, -G seconds, -W
// count).
#pragma once

#include <cstdint>
#include <string>

namespace vestrel {

struct SaveSettings {
  std::string file;             // -w: a file name, "-" for standard output; empty: nothing saved
  uint64_t fileSizeBytes = 0;   // -C: start a new file before the current one would pass this; 0: never
  int64_t rotateSeconds = 0;    // -G: start a new file every this many seconds (strftime names); 0: never
  uint32_t fileCount = 0;       // -W: a ring of this many files with -C, a limit with -G; 0: none
  bool flushEachFrame = false;  // -U: each frame written out as it is saved
};

}  // namespace vestrel
