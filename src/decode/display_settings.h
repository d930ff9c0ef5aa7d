// What the user chose to see of each message's fields.
#pragma once

namespace vestrel {

struct DisplaySettings {
  bool showUnknown = false;  // print fields of unknown meaning
  bool fullStrings = false;  // never shorten texts
};

}  // namespace vestrel
