// The program as a process: how it ends, what it does with -l, and what it
// prints for a device it does not have.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "live_fixture.h"

namespace vestrel::live {
namespace {

namespace fs = std::filesystem;

using ProcessTest = LiveCaptureTest;

TEST_F(ProcessTest, SigtermEndsTheCaptureWithEverythingPrinted) {
  ChatConnection chat = connect();
  chat.clientSends(clientAuthInfo());
  chat.serverSends(serverAuthInfo());
  expectLines(sentLine(0x50, "SID_AUTH_INFO") + rcvdLine(0x50, "SID_AUTH_INFO"), SIGTERM);
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
    lines += sentLine(0x25, "SID_PING");
  }
  vestrel_.resume();
  expectLines(lines);
}

// A scratch directory holding a log file that already has old content, so
// the test sees the program create it anew.
class LogFileTest : public LiveCaptureTest {
 protected:
  LogFileTest() {
    char pattern[] = "/tmp/vestrel-live-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      ADD_FAILURE() << "cannot make a scratch directory";
      return;
    }
    directory_ = pattern;
    logPath_ = directory_ / "traffic.log";
    std::ofstream(logPath_) << "left from an earlier run\n";
  }
  ~LogFileTest() override {
    std::error_code ignored;
    if (!directory_.empty()) fs::remove_all(directory_, ignored);
  }
  std::vector<std::string> captureOptions() const override { return {"-l", logPath_.string()}; }

  fs::path directory_;
  fs::path logPath_;
};

TEST_F(LogFileTest, CreatesTheLogFileAndLeavesItEmpty) {
  ChatConnection chat = connect();
  chat.clientSends(clientAuthInfo());
  chat.serverSends(ping(1) + serverAuthInfo());
  expectLines(sentLine(0x50, "SID_AUTH_INFO") + rcvdLine(0x25, "SID_PING") + rcvdLine(0x50, "SID_AUTH_INFO"));
  ASSERT_TRUE(fs::is_regular_file(logPath_));
  EXPECT_EQ(fs::file_size(logPath_), 0u);
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
