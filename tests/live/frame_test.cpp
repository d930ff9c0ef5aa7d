// Hand-made frames put on lo: what the program takes from frames that are
// not plain TCP segments, and that it goes on working after them.
#include <ostream>
#include <string>
#include <string_view>

#include "live_fixture.h"

namespace vestrel::live {
namespace {

constexpr size_t kHeaderBytes = 20 + 20;  // IPv4 and TCP without options

struct FrameCase {
  std::string name;
  CraftedFrame frame;
  std::string lines;  // what the frame alone adds to the output
};

void PrintTo(const FrameCase& c, std::ostream* out) { *out << c.name; }

CraftedFrame segmentCarrying(Bytes payload) {
  CraftedFrame frame;
  frame.payload = std::move(payload);
  return frame;
}

// Read as TCP, the datagram would announce a 20-byte header (0x50 in its
// twelfth byte) and end with a whole SID_ENTERCHAT.
CraftedFrame udpDatagram() {
  CraftedFrame frame = segmentCarrying(ping(0x50) + ping(1) + enterChat());
  frame.ipProtocol = kProtocolUdp;
  return frame;
}

// Taken as payload, padding holding a message would print it.
CraftedFrame bareAckWithPadding() {
  CraftedFrame frame;
  frame.trailer = ping(3);
  return frame;
}

CraftedFrame paddingAfterPayload() {
  CraftedFrame frame = segmentCarrying(chatCommand("hi"));
  frame.trailer = ping(3);
  return frame;
}

CraftedFrame totalLength(Bytes payload, size_t length) {
  CraftedFrame frame = segmentCarrying(std::move(payload));
  frame.ipTotalLength = static_cast<uint16_t>(length);
  return frame;
}

// The capture stops after the first message; the IP header still counts
// the second.
CraftedFrame cutAfterFirstMessage() {
  CraftedFrame frame = segmentCarrying(chatCommand("kept") + ping(4));
  frame.frameBytes = kEthernetBytes + kHeaderBytes + chatCommand("kept").size();
  return frame;
}

// Options made of NOPs: skipped wrongly, they would make the next header
// announce 0x0101 or 0x0A08 bytes and swallow the messages after them.
CraftedFrame withIpOptions() {
  CraftedFrame frame = segmentCarrying(chatCommand("ip options"));
  frame.ipOptions = Bytes{0x01, 0x01, 0x01, 0x00};
  return frame;
}

CraftedFrame withTcpOptions() {
  CraftedFrame frame = segmentCarrying(chatCommand("tcp options"));
  frame.tcpOptions = Bytes{0x01, 0x01, 0x08, 0x0A} + fill(8, 0x11);  // NOP, NOP, time stamps
  return frame;
}

CraftedFrame withLongestHeaders() {
  CraftedFrame frame = segmentCarrying(chatCommand("longest headers"));
  frame.ipOptions = fill(40, 0x01);
  frame.tcpOptions = fill(40, 0x01);
  return frame;
}

CraftedFrame withIpHeaderWords(uint8_t words) {
  CraftedFrame frame = segmentCarrying(ping(5));
  frame.ipHeaderWords = words;
  return frame;
}

CraftedFrame withTcpHeaderWords(uint8_t words) {
  CraftedFrame frame = segmentCarrying(ping(5));
  frame.tcpHeaderWords = words;
  return frame;
}

CraftedFrame cutTo(size_t frameBytes) {
  CraftedFrame frame = segmentCarrying(ping(6));
  frame.frameBytes = frameBytes;
  return frame;
}

// The capture filter lets tagged frames through too; the kernel takes the
// outer tag off as the frame comes in, so the second is still in the frame.
CraftedFrame taggedWith(std::vector<uint16_t> vlanIds) {
  CraftedFrame frame = segmentCarrying(chatCommand("tagged"));
  frame.vlanIds = std::move(vlanIds);
  return frame;
}

CraftedFrame betweenPorts(uint16_t source, uint16_t destination) {
  CraftedFrame frame = segmentCarrying(chatEvent(5, "bob", "crafted"));
  frame.sourcePort = source;
  frame.destinationPort = destination;
  return frame;
}

// The largest IPv4 datagram (65535 bytes) in one frame, as a sender's
// segmentation offload hands it to the capture: 65549 bytes with its
// Ethernet header. Its last message sits in its last 15 bytes.
FrameCase largestDatagram() {
  constexpr size_t kPings = 8185;
  Bytes payload;
  std::string lines;
  for (uint32_t cookie = 0; cookie < kPings; ++cookie) {
    const Bytes message = ping(cookie);
    payload.insert(payload.end(), message.begin(), message.end());
    lines += sentLine(0x25, "SID_PING", pingDetails(cookie));
  }
  payload = payload + chatCommand("0123456789");
  lines += sentLine(0x0E, "SID_CHATCOMMAND", "0123456789\n");
  CraftedFrame frame = segmentCarrying(payload);
  EXPECT_EQ(trueIpTotalLength(frame), 65535U);
  return {"LargestDatagramIsCapturedWhole", frame, lines};
}

std::vector<FrameCase> frameCases() {
  const auto command = [](std::string_view text) {
    return sentLine(0x0E, "SID_CHATCOMMAND", std::string(text) + "\n");
  };
  return {
      {"UdpToTheChatPortIsIgnored", udpDatagram(), ""},
      {"BareAckIsIgnoredEvenWithPadding", bareAckWithPadding(), ""},
      {"PaddingAfterTheDatagramIsNotPayload", paddingAfterPayload(), command("hi")},
      {"TotalLengthBeyondTheFrameUsesTheCapturedBytes",
       totalLength(chatCommand("short"), kHeaderBytes + chatCommand("short").size() + 300), command("short")},
      {"CaptureCutInsideThePayloadUsesTheCapturedBytes", cutAfterFirstMessage(), command("kept")},
      {"TotalLengthOfJustTheHeadersIsIgnored", totalLength(ping(7), kHeaderBytes), ""},
      {"TotalLengthShorterThanTheHeadersIsIgnored", totalLength(ping(7), 30), ""},
      {"IpOptionsAreSteppedOver", withIpOptions(), command("ip options")},
      {"TcpOptionsAreSteppedOver", withTcpOptions(), command("tcp options")},
      {"LongestHeadersAreSteppedOver", withLongestHeaders(), command("longest headers")},
      {"IpHeaderLengthBelowTwentyIsIgnored", withIpHeaderWords(4), ""},
      {"IpHeaderLengthBeyondTheFrameIsIgnored", withIpHeaderWords(15), ""},
      {"TcpDataOffsetBelowTwentyIsIgnored", withTcpHeaderWords(4), ""},
      {"FrameEndingInsideTheIpHeaderIsIgnored", cutTo(kEthernetBytes + 12), ""},
      {"FrameEndingInsideTheTcpHeaderIsIgnored", cutTo(kEthernetBytes + 20 + 10), ""},
      {"SegmentFromTheChatPortIsRcvd", betweenPorts(kChatPort, 40000),
       rcvdLine(0x0F, "SID_CHATEVENT", chatEventDetails("EID_TALK, ", "bob", "crafted"))},
      {"SegmentBetweenOtherPortsIsIgnored", betweenPorts(40000, 40001), ""},
      {"VlanTaggedFrameIsRead", taggedWith({5}), command("tagged")},
      {"DoublyTaggedFrameIsRead", taggedWith({5, 7}), command("tagged")},
      largestDatagram(),
  };
}

class FrameCaseTest : public LiveCaptureTest, public testing::WithParamInterface<FrameCase> {};

// A real message first, so the frame meets a stream already in step; the end
// mark after it shows the program alive and still in step.
TEST_P(FrameCaseTest, TakesOnlyTheSegmentPayload) {
  ChatConnection chat = connect();
  chat.clientSends(clientAuthInfo());
  inject(GetParam().frame);
  expectLines(sentLine(0x50, "SID_AUTH_INFO", kClientAuthInfoDetails) + GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Crafted, FrameCaseTest, testing::ValuesIn(frameCases()),
                         [](const testing::TestParamInfo<FrameCase>& info) { return info.param.name; });

}  // namespace
}  // namespace vestrel::live
