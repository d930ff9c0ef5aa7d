// The program as a process: how it ends, what it does with -l, and what it
// prints for a device it does not have.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "hex_dump.h"
#include "live_fixture.h"

namespace vestrel::live {
namespace {

namespace fs = std::filesystem;

using ProcessTest = LiveCaptureTest;

TEST_F(ProcessTest, SigtermEndsTheCaptureWithEverythingPrinted) {
  ChatConnection chat = connect();
  chat.clientSends(clientAuthInfo());
  chat.serverSends(serverAuthInfo());
  expectLines(
      sentLine(0x50, "SID_AUTH_INFO", kClientAuthInfoDetails) + rcvdLine(0x50, "SID_AUTH_INFO", kServerAuthInfoDetails),
      SIGTERM);
}

// Frames that arrive while the program is not running (stopped here; in use,
// not scheduled for a moment on a busy machine) wait in its capture buffer.
// On lo every frame is held twice (as sent and as received) in slots sized
// for lo's 65536-byte MTU, so the library's default 2 MB buffer holds about
// 31 of them; these 24 messages and their acknowledgements need about 96.
TEST_F(ProcessTest, BurstWhileTheProgramIsPausedIsKept) {
  ChatConnection chat = connect();
  ASSERT_TRUE(vestrel_.pause());
  std::string lines;
  for (uint32_t cookie = 0; cookie < 24; ++cookie) {
    chat.clientSends(ping(cookie));
    lines += sentLine(0x25, "SID_PING", pingDetails(cookie));
  }
  vestrel_.resume();
  expectLines(lines);
}

// Far more frames than the capture buffer holds arrive while the program is
// stopped, so the kernel drops most of them; when the capture ends the
// program says so, below every message, in one line with the counts. (Every
// other live case checks the whole output, so a run without drops is seen
// to say nothing of the kind.)
TEST_F(ProcessTest, FramesTheKernelDroppedAreReportedWhenTheCaptureEnds) {
  // Each command is a segment of its own of some 4 KB, held twice on lo:
  // together several times what the kernel's ring holds.
  constexpr uint32_t kFloodSegments = 12000;
  const Bytes command = chatCommand(std::string(4000, 'x'));
  ChatConnection chat = connect();
  ASSERT_TRUE(vestrel_.pause());
  for (uint32_t sent = 0; sent < kFloodSegments; ++sent) chat.clientSends(command);
  vestrel_.resume();
  const ProcessResult result = vestrel_.stop(SIGTERM);
  EXPECT_EQ(result.status, "exit 0");

  const std::regex report(
      "\\n(vestrel: ([0-9]+) frames dropped by the kernel \\(of ([0-9]+) received\\); "
      "messages may be missing and the stream out of step\\n)$");
  std::smatch found;
  ASSERT_TRUE(std::regex_search(result.output, found, report))
      << "output ends: " << result.output.substr(result.output.size() - std::min<size_t>(result.output.size(), 300));
  const uint64_t dropped = std::stoull(found[2].str());
  const uint64_t received = std::stoull(found[3].str());
  EXPECT_GT(dropped, 0U);
  EXPECT_GT(received, dropped) << "the frames kept are received too";
  EXPECT_GE(received, 2 * uint64_t{kFloodSegments}) << "every segment is seen twice on lo";
  // One such line only: the last.
  EXPECT_EQ(result.output.find("dropped by the kernel"), result.output.rfind("dropped by the kernel"));
}

// Only the chat port's frames enter the capture ring: a bulk transfer on
// another port that would fill it several times over while the program is
// stopped costs no chat message, and no frame is dropped (which the program
// would report).
TEST_F(ProcessTest, TrafficOnOtherPortsCannotCrowdOutChatFrames) {
  constexpr uint32_t kBulkSegments = 12000;
  ChatListener otherPort;
  ASSERT_TRUE(otherPort.open(5000));
  ChatConnection bulk = ChatConnection::open(otherPort);
  ChatConnection chat = connect();
  ASSERT_TRUE(vestrel_.pause());
  const Bytes block(4000, 'x');
  for (uint32_t sent = 0; sent < kBulkSegments; ++sent) bulk.clientSends(block);
  chat.clientSends(ping(1));
  vestrel_.resume();
  expectLines(sentLine(0x25, "SID_PING", pingDetails(1)));
}

// Standard output on a full disk: the failure is reported when the capture
// ends, although the later flushes, with nothing left to write, succeed.
class FullOutputTest : public LiveCaptureTest {
 protected:
  test::ChildSetup childSetup() const override {
    test::ChildSetup setup;
    setup.outputFile = "/dev/full";
    return setup;
  }
  bool bannerSeen() const override { return false; }
};

TEST_F(FullOutputTest, IsReportedWhenTheCaptureEnds) {
  ChatConnection chat = connect();
  chat.clientSends(ping(1));
  const ProcessResult result = vestrel_.stop(SIGINT);
  EXPECT_EQ(result.output, "vestrel: error writing standard output: No space left on device\n");
  EXPECT_EQ(result.status, "exit 0");
}

// A log file that already has old content, so the test sees the program
// create it anew.
class LogFileTest : public LiveCaptureTest {
 protected:
  LogFileTest() { std::ofstream(logPath_) << "left from an earlier run\n"; }
  std::vector<std::string> captureOptions() const override { return {"-l", logPath_.string()}; }

  ScratchDirectory scratch_;
  fs::path logPath_ = scratch_.path() / "traffic.log";
};

// The old content is gone; the log holds the dumps and nothing of the
// console's text.
TEST_F(LogFileTest, CreatesTheLogFileAnewWithOnlyTheDumps) {
  ChatConnection chat = connect();
  chat.clientSends(clientAuthInfo());
  chat.serverSends(ping(1) + serverAuthInfo());
  expectLinesAndLog(sentLine(0x50, "SID_AUTH_INFO", kClientAuthInfoDetails) +
                        rcvdLine(0x25, "SID_PING", pingDetails(1)) +
                        rcvdLine(0x50, "SID_AUTH_INFO", kServerAuthInfoDetails),
                    logPath_,
                    hexDump(Side::Client, clientAuthInfo()) + hexDump(Side::Server, ping(1)) +
                        hexDump(Side::Server, serverAuthInfo()) + hexDump(Side::Client, endMark()));
}

using DeviceChoiceTest = PrivateNetworkTest;

TEST_F(DeviceChoiceTest, UnknownDeviceNumberPrintsTheList) {
  const ProcessResult listing = VestrelProcess::run({"-d"}, Millis(5000));
  ASSERT_EQ(listing.status, "exit 0");
  ASSERT_NE(listing.output.find(". lo\n"), std::string::npos) << listing.output;
  const ProcessResult chosen = VestrelProcess::run({"-i", "99"}, Millis(5000));
  EXPECT_EQ(chosen.output,
            "Invalid device number specified. Please choose from the following list:\n\n" + listing.output);
  EXPECT_EQ(chosen.status, "exit 0");
}

}  // namespace
}  // namespace vestrel::live
