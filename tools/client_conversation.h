// What one chat client and its server say to each other, in bursts: a
// logon, entering the chat, then talk, pings and channel lists, with the
// same number of messages each way. One seed always gives the same conversation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "chat_dice.h"
#include "tcp_packets.h"
#include "wire_bytes.h"

namespace vestrel::wire {

// Messages one side sends in a row, before the other side's turn.
struct Burst {
  Side from = Side::Client;
  std::vector<Bytes> messages;
};

class ClientConversation {
 public:
  // A burst holds at most this many messages (extensions aside).
  static constexpr size_t kMaxBurst = 3;

  ClientConversation(uint32_t seed, size_t messagesEachWay, uint32_t clientNumber);

  bool done() const { return left_[0] == 0 && left_[1] == 0; }
  size_t left(Side side) const { return left_[index(side)]; }

  // The next burst; empty once done().
  Burst next();
  // One more message from the side, to lengthen its burst; nothing when the
  // side has said all it has to say.
  std::optional<Bytes> another(Side from);

 private:
  static size_t index(Side side) { return side == Side::Client ? 0 : 1; }

  std::vector<Bytes> logonStep(size_t step);
  Bytes chatMessage(Side from);
  Bytes clientChat();
  Bytes serverChat();
  void takeOwed(Burst& burst);
  // Takes the message if the side still has one to send.
  void take(Burst& burst, Bytes message);

  Dice dice_;
  std::array<size_t, 2> left_;
  size_t logonStep_ = 0;
  std::array<std::vector<Bytes>, 2> owed_;  // answers due, sent first in the side's next burst
  uint32_t clientNumber_;
  std::string user_;
  uint32_t clientToken_;
  uint32_t serverToken_;
};

}  // namespace vestrel::wire
