#include "stream/shown_connections.h"

#include <utility>

namespace vestrel {

std::optional<ShownConnections::HeldEvent> ShownConnections::messageShown(const ConnectionKey& connection) {
  if (lastShown_ == connection) return std::nullopt;
  lastShown_ = connection;
  State& state = states_[connection];
  if (state.shown) return std::nullopt;
  state.shown = true;
  return std::exchange(state.opening, std::nullopt);
}

bool ShownConnections::showsEvent(const ConnectionKey& connection, const ConnectionEvent& event, const timeval& time) {
  const auto found = states_.find(connection);
  const bool shown = found != states_.end() && found->second.shown;
  if (event.change == ConnectionChange::Opened || event.change == ConnectionChange::OpenBeforeCapture) {
    if (!shown) states_[connection].opening = HeldEvent{event, time};
    return shown;
  }
  if (event.change == ConnectionChange::Closed && found != states_.end()) {
    states_.erase(found);
    if (lastShown_ == connection) lastShown_.reset();
  }
  return shown;
}

}  // namespace vestrel
