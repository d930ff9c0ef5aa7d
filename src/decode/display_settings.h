// What the user chose to see of each message's fields.
#pragma once

#include <cstdint>

namespace vestrel {

// Which decoders and names a message is shown with. Classic: the classic
// monitor's 29 decoders and names, codes like "68XI" in wire order, fields
// of unknown meaning in JSON only with -u, nothing after the last field.
// Full: every message of the protocol in both directions under its usual
// name, codes spelled as users write them ("IX86"), every field in JSON,
// and the bytes after the last field shown.
enum class DecoderSet : uint8_t { Classic, Full };

struct DisplaySettings {
  bool showUnknown = false;  // print fields of unknown meaning
  bool fullStrings = false;  // never shorten texts
  DecoderSet decoders = DecoderSet::Classic;
};

}  // namespace vestrel
