// A point in time that every wait in the rig is bounded by.
#pragma once

#include <algorithm>
#include <chrono>

namespace vestrel::test {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

class Deadline {
 public:
  explicit Deadline(Millis timeout) : end_(Clock::now() + timeout) {}

  bool passed() const { return Clock::now() >= end_; }
  // What is left, in the form poll() takes; never negative.
  int remainingMs() const {
    const auto left = std::chrono::duration_cast<Millis>(end_ - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
  }

 private:
  Clock::time_point end_;
};

}  // namespace vestrel::test
