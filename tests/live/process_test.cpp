// The program as a process: how it ends, what it does with -l, and what it
// prints for a device it does not have.
#include <filesystem>
#include <fstream>

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
