// What generated chat traffic is drawn from: a seeded die, and the users,
// lines and commands of a busy channel.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vestrel::wire {

// An xorshift generator: the same seed always gives the same traffic.
class Dice {
 public:
  Dice() = default;
  // Any seed; xorshift must not start at zero.
  explicit Dice(uint32_t seed) : state_(seed != 0 ? seed : kDefaultSeed) {}

  uint32_t roll(uint32_t sides) {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_ % sides;
  }
  // True in percent cases out of a hundred.
  bool chance(uint32_t percent) { return roll(100) < percent; }
  template <typename Entry, size_t N>
  const Entry& pick(const std::array<Entry, N>& entries) {
    return entries[roll(N)];
  }

 private:
  static constexpr uint32_t kDefaultSeed = 0x6112BEEF;
  uint32_t state_ = kDefaultSeed;
};

inline constexpr std::array<std::string_view, 8> kChatUsers = {"bob",   "carol", "dave",  "erin",
                                                               "frank", "grace", "heidi", "ivan"};
inline constexpr std::array<std::string_view, 10> kChatLines = {
    "hey all",
    "anyone up for a 2v2?",
    "gg",
    "brb",
    "lol",
    "did anyone catch the patch notes? they changed the map pool again",
    "who is hosting tonight?",
    "the ladder queue is slow today",
    "see you in the tournament channel",
    "ok",
};
inline constexpr std::array<std::string_view, 5> kChatCommands = {"hi", "/w bob ready when you are", "/me stretches",
                                                                  "/whoami", "anyone seen carol today?"};

}  // namespace vestrel::wire
