#include "live_fixture.h"

#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/printf_text.h"
#include "private_network.h"

namespace vestrel::live {

namespace {

constexpr Millis kBannerTimeout{5000};
constexpr Millis kLinesTimeout{5000};
// Only how long a failing case waits: a loaded machine can keep the program
// from the processor for seconds.
constexpr Millis kSettleTimeout{10000};
constexpr Millis kLogTimeout{5000};
constexpr Millis kLogPollInterval{10};
const std::string kEndMarkLine = sentLine(0xEE, "SID_UNK0xEE");

std::string format(const char* pattern, auto... values) { return test::printfText(pattern, values...); }

const char* directionText(Side from) { return from == Side::Client ? "Sent" : "Rcvd"; }

}  // namespace

std::string pingDetails(uint32_t cookie) { return format("Ping value: 0x%X\n", cookie); }

std::string summaryLine(Side from, uint8_t id, std::string_view name, std::string_view details) {
  return format("%s -> [0x%2.2X] %-20s -> ", directionText(from), id, std::string(name).c_str()) + std::string(details);
}

std::string tooLongLine(Side from, uint8_t id, std::string_view name, unsigned length) {
  return format("%s -> [0x%2.2X] %-20s -> (too long to decode: %u bytes)\n", directionText(from), id,
                std::string(name).c_str(), length);
}

Bytes oversizeMessage(uint8_t id, uint16_t length) {
  Bytes message = header(0xFF, id, length);
  for (uint32_t cookie = 0; message.size() < length; ++cookie) {
    const Bytes filler = ping(cookie);
    message.insert(message.end(), filler.begin(), filler.end());
  }
  return head(message, length);
}

void PrivateNetworkTest::SetUp() {
  const auto problem = enterPrivateNetwork();
  if (!problem) return;
  if (liveCaptureRequired()) FAIL() << "VESTREL_REQUIRE_LIVE=1 but no private network: " << *problem;
  GTEST_SKIP() << "live capture needs root in a private network namespace (" << *problem << ")";
}

void LiveCaptureTest::SetUp() {
  PrivateNetworkTest::SetUp();
  if (IsSkipped() || HasFatalFailure()) return;
  ASSERT_TRUE(listener_.open());
  const std::string device = captureDevice();
  const auto number = findDeviceNumber(device);
  ASSERT_TRUE(number) << "`vestrel -d` does not list " << device << ":\n"
                      << VestrelProcess::run({"-d"}, kBannerTimeout).output;
  std::vector<std::string> options{"-i", std::to_string(*number)};
  for (const std::string& option : captureOptions()) options.push_back(option);
  ASSERT_TRUE(vestrel_.start(options, childSetup(), binaryToRun())) << "cannot start " << binaryToRun();
  if (!bannerSeen()) {
    ASSERT_TRUE(vestrel_.waitUntilIdle(kBannerTimeout)) << "never waited for frames: " << vestrel_.output();
    return;
  }
  ASSERT_TRUE(vestrel_.waitForLines(1, kBannerTimeout)) << "no banner; output so far: " << vestrel_.output();
  ASSERT_EQ(vestrel_.output(), banner());
}

ChatConnection LiveCaptureTest::connect() {
  return ChatConnection::open(listener_, [this] { settleCapture(); });
}

void LiveCaptureTest::inject(const CraftedFrame& frame) {
  if (!injectorOpen_) injectorOpen_ = injector_.open();
  if (injectorOpen_ && injector_.inject(buildFrame(frame))) settleCapture();
}

void LiveCaptureTest::settleCapture() {
  if (vestrel_.paused()) return;  // a stopped program takes nothing
  EXPECT_TRUE(vestrel_.waitUntilIdle(kSettleTimeout)) << "the program never went back to waiting for frames";
}

void LiveCaptureTest::finishTraffic() {
  ChatConnection endMarkConnection = connect();
  endMarkConnection.clientSends(endMark());
  EXPECT_TRUE(vestrel_.waitForText(kEndMarkLine, kLinesTimeout)) << "the end mark's line never came";
}

void LiveCaptureTest::stopAndExpect(const std::string& lines, int signal) {
  const ProcessResult result = vestrel_.stop(signal);
  EXPECT_EQ(result.output, banner() + lines + kEndMarkLine)
      << "TCP segments sent again in this namespace: " << retransmittedSegments();
  EXPECT_EQ(result.status, "exit 0");
}

void LiveCaptureTest::expectLines(const std::string& lines, int signal) {
  finishTraffic();
  stopAndExpect(lines, signal);
}

void LiveCaptureTest::expectLinesAndLog(const std::string& lines, const std::filesystem::path& logFile,
                                        const std::string& log, int signal) {
  finishTraffic();
  // The end mark's dump is written just after its line, so give it a moment.
  const Deadline deadline(kLogTimeout);
  std::string logSoFar = readFile(logFile);
  while (logSoFar != log && !deadline.passed()) {
    std::this_thread::sleep_for(kLogPollInterval);
    logSoFar = readFile(logFile);
  }
  EXPECT_EQ(logSoFar, log) << "the log as the running program left it";
  stopAndExpect(lines, signal);
  EXPECT_EQ(readFile(logFile), log) << "the log after the program ended";
}

}  // namespace vestrel::live
