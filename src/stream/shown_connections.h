// With -Y, which connection events are shown: those of a connection once
// one of its messages has been. Its opening is held until then and shown
// just before that message, with its own time; its other events before
// that, and any after its close, are not shown (the counts at the end
// still hold them). Entries end with their connection's close, which the
// tracker always reports, so they are as bounded as its table.
#pragma once

#include <sys/time.h>

#include <optional>
#include <unordered_map>

#include "stream/connection_events.h"
#include "stream/connection_table.h"

namespace vestrel {

class ShownConnections {
 public:
  struct HeldEvent {
    ConnectionEvent event;
    timeval time;
  };

  // A message of the connection is shown: the opening to show before it,
  // when one was held.
  std::optional<HeldEvent> messageShown(const ConnectionKey& connection);
  // Whether the event is shown now; an opening is held instead.
  bool showsEvent(const ConnectionKey& connection, const ConnectionEvent& event, const timeval& time);

 private:
  struct State {
    bool shown = false;
    std::optional<HeldEvent> opening;
  };
  std::unordered_map<ConnectionKey, State, ConnectionKeyHash> states_;
  // The connection whose message was shown last, known to be shown: its
  // messages mostly come in runs, and need no look-up then.
  std::optional<ConnectionKey> lastShown_;
};

}  // namespace vestrel
