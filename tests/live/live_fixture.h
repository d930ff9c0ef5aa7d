// The fixtures every live case runs in.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "bytes.h"
#include "chat_messages.h"
#include "common/test_files.h"
#include "crafted_frame.h"
#include "loopback_chat.h"
#include "vestrel_process.h"

namespace vestrel::live {

// The program's first line when it captures on the device it lists (in
// `vestrel -d`) as listedName.
inline std::string bannerFor(std::string_view listedName) {
  return "Monitoring '" + std::string(listedName) + "' for BNCS traffic...\n";
}

// The message expectLines sends last, on a connection of its own: an id no
// case uses and no decoder reads, so its line can only be the end mark's.
inline Bytes endMark() { return msg(0xEE); }

// Runs the case in a network namespace of its own; skips (or fails, with
// VESTREL_REQUIRE_LIVE=1) where one cannot be made.
class PrivateNetworkTest : public testing::Test {
 protected:
  void SetUp() override;
};

// Adds a chat listener and the program capturing on lo (or the device a
// fixture chooses), past its banner.
class LiveCaptureTest : public PrivateNetworkTest {
 protected:
  void SetUp() override;

  // Options given after "-i N"; a fixture that needs -u, -s or -l adds them.
  virtual std::vector<std::string> captureOptions() const { return {}; }
  // The program's environment and user, and the binary to run.
  virtual test::ChildSetup childSetup() const { return {}; }
  virtual std::string binaryToRun() const { return vestrelBinary(); }
  // The device to capture on, as `vestrel -d` lists it. Traffic stays on lo,
  // so another device must be one that sees lo's frames.
  virtual std::string captureDevice() const { return "lo"; }
  std::string banner() const { return bannerFor(captureDevice()); }
  // Whether the banner reaches the test; without it the program is taken to
  // be capturing once it first waits for frames.
  virtual bool bannerSeen() const { return true; }

  // Connections and injected frames wait after each step until the program
  // has taken every frame on lo, so no burst outruns its capture.
  ChatConnection connect();
  void inject(const CraftedFrame& frame);
  void settleCapture();

  // Sends an end mark on a connection of its own and waits for its line (the
  // program prints in order, so every earlier line is out by then), stops
  // the program with the signal, and checks the whole output, banner and end
  // mark included, and the exit status.
  void expectLines(const std::string& lines, int signal = SIGINT);
  // The same, and the log file: while the program still runs (each dump is
  // flushed as it is written) and once it has ended, the file holds exactly
  // log, which ends with the end mark's dump.
  void expectLinesAndLog(const std::string& lines, const std::filesystem::path& logFile, const std::string& log,
                         int signal = SIGINT);

  VestrelProcess vestrel_;

 private:
  // Sends the end mark and waits for its line.
  void finishTraffic();
  void stopAndExpect(const std::string& lines, int signal);

  ChatListener listener_;
  FrameInjector injector_;
  bool injectorOpen_ = false;
};

}  // namespace vestrel::live
