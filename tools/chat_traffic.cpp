#include "chat_traffic.h"

#include <array>
#include <string_view>

#include "chat_dice.h"
#include "protocol_messages.h"
#include "session_player.h"

namespace vestrel::wire {

namespace {

using namespace std::chrono_literals;
using std::chrono::microseconds;

constexpr ConnectionSetup kConnection{
    {{192, 0, 2, 10}, 50412}, {{198, 51, 100, 20}, 6112}, 0x2F6A91C3, 0xC41B0D72, 38ms};
constexpr size_t kOnlyConnection = 0;

// A packed segment holds at most this many messages, and never more payload
// than one Ethernet-sized segment carries.
constexpr size_t kMessagesPerSegment = 4;
constexpr size_t kMaxSegmentPayload = 1460;

// Turns messages into segments: one each, or runs of one side packed.
class Segmenter {
 public:
  Segmenter(SessionPlayer& player, bool packed) : player_(player), packed_(packed) {}

  bool add(Side from, const Bytes& message, microseconds gap) {
    if (!pending_.empty() && (!packed_ || from != pendingFrom_ || pendingCount_ == kMessagesPerSegment ||
                              pending_.size() + message.size() > kMaxSegmentPayload)) {
      if (!flush()) return false;
    }
    if (pending_.empty()) {
      pendingFrom_ = from;
      pendingGap_ = gap;
    }
    pending_.insert(pending_.end(), message.begin(), message.end());
    ++pendingCount_;
    return packed_ || flush();
  }

  // The client acknowledges every second segment from the server, as
  // delayed acknowledgements do.
  bool flush() {
    if (pending_.empty()) return true;
    bool ok = player_.play({pendingGap_, kOnlyConnection, Action::Send, pendingFrom_, pending_});
    if (pendingFrom_ == Side::Server && ++serverSegments_ % 2 == 0) {
      ok = ok && player_.play({40us, kOnlyConnection, Action::Ack, Side::Client});
    }
    pending_.clear();
    pendingCount_ = 0;
    return ok;
  }

 private:
  SessionPlayer& player_;
  bool packed_;
  Side pendingFrom_ = Side::Client;
  microseconds pendingGap_{0};
  Bytes pending_;
  size_t pendingCount_ = 0;
  size_t serverSegments_ = 0;
};

struct Turn {
  Side from;
  Bytes message;
};

uint32_t pingOf(std::string_view user) { return 30 + static_cast<uint32_t>(user.size()) * 23; }

Bytes eventFrom(Dice& dice, ChatEvent event, std::string_view text) {
  const std::string_view user = dice.pick(kChatUsers);
  return chatEvent(event, kNoFlags, pingOf(user), user, text);
}

// One exchange: a single message, or a request and its answer when room is
// left for both.
std::vector<Turn> nextExchange(Dice& dice, size_t room) {
  const uint32_t kind = dice.roll(20);
  if (kind == 17 && room >= 2) {
    const uint32_t cookie = dice.roll(0xFFFFFFFF);
    return {{Side::Server, ping(cookie)}, {Side::Client, ping(cookie)}};
  }
  if (kind == 18 && room >= 2) {
    return {{Side::Client, channelListRequest("PX3W")},
            {Side::Server, channelList({"Town Square", "Chat Lounge", "Clan Recruitment", "Tech Support"})}};
  }
  if (kind >= 13 && kind <= 16) return {{Side::Client, chatCommand(dice.pick(kChatCommands))}};
  if (kind == 8 || kind == 9) return {{Side::Server, eventFrom(dice, ChatEvent::Emote, "laughs")}};
  if (kind == 10) return {{Side::Server, eventFrom(dice, ChatEvent::Join, "PX3W")}};
  if (kind == 11) return {{Side::Server, eventFrom(dice, ChatEvent::Leave, "")}};
  if (kind == 12) return {{Side::Server, eventFrom(dice, ChatEvent::Whisper, dice.pick(kChatLines))}};
  if (kind == 19) return {{Side::Server, chatEvent(ChatEvent::Info, kNoFlags, 0, "", "No one hears you.")}};
  return {{Side::Server, eventFrom(dice, ChatEvent::Talk, dice.pick(kChatLines))}};
}

microseconds gapBefore(Dice& dice) { return microseconds(200 + dice.roll(400'000)); }

}  // namespace

bool writeChatTraffic(CaptureWriter& writer, const ChatTraffic& traffic) {
  SessionPlayer player(writer, sessionStart(), {kConnection});
  if (traffic.lossy) player.loseEveryOtherDataSegment();
  bool ok = player.play({0us, kOnlyConnection, Action::Open}) &&
            player.play({180us, kOnlyConnection, Action::Send, Side::Client, protocolByte()});

  Dice dice;
  Segmenter segmenter(player, traffic.packed);
  for (size_t written = 0; ok && written < traffic.messages;) {
    for (const Turn& turn : nextExchange(dice, traffic.messages - written)) {
      ok = ok && segmenter.add(turn.from, turn.message, gapBefore(dice));
      ++written;
    }
  }
  ok = ok && segmenter.flush() && player.play({300ms, kOnlyConnection, Action::Close});
  return player.finish() && ok;
}

}  // namespace vestrel::wire
