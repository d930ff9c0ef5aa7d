#include "live_fixture.h"

#include <cstdio>

#include "private_network.h"

namespace vestrel::live {

namespace {

constexpr Millis kBannerTimeout{5000};
constexpr Millis kLinesTimeout{5000};
constexpr Millis kSettleTimeout{2000};
// An id no case uses, so its line can only be the end mark's.
constexpr uint8_t kEndMarkId = 0xEE;

std::string format(const char* pattern, auto... values) {
  char text[256];
  std::snprintf(text, sizeof text, pattern, values...);
  return text;
}

const char* directionText(Side from) { return from == Side::Client ? "Sent" : "Rcvd"; }

}  // namespace

std::string summaryLine(Side from, uint8_t id, std::string_view name) {
  return format("%s -> [0x%2.2X] %-20s -> \n", directionText(from), id, std::string(name).c_str());
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
  const auto loopback = findLoopbackNumber();
  ASSERT_TRUE(loopback) << "`vestrel -d` does not list lo";
  std::vector<std::string> options{"-i", std::to_string(*loopback)};
  for (const std::string& option : captureOptions()) options.push_back(option);
  ASSERT_TRUE(vestrel_.start(options)) << "cannot start " << vestrelBinary();
  ASSERT_TRUE(vestrel_.waitForLines(1, kBannerTimeout)) << "no banner; output so far: " << vestrel_.output();
  ASSERT_EQ(vestrel_.output(), kBanner);
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

void LiveCaptureTest::expectLines(const std::string& lines, int signal) {
  ChatConnection endMarkConnection = connect();
  endMarkConnection.clientSends(msg(kEndMarkId));
  const std::string endMarkLine = sentLine(kEndMarkId, "SID_UNK0xEE");
  EXPECT_TRUE(vestrel_.waitForText(endMarkLine, kLinesTimeout)) << "the end mark's line never came";
  const ProcessResult result = vestrel_.stop(signal);
  EXPECT_EQ(result.output, kBanner + lines + endMarkLine);
  EXPECT_EQ(result.status, "exit 0");
}

}  // namespace vestrel::live
