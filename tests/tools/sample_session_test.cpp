// The sample session and long chat traffic, read back through libpcap: what
// the monitor will see message by message, TCP that holds together, and a
// committed sample that matches what the generator writes today.
#include "sample_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "capture_reading.h"
#include "chat_traffic.h"
#include "message_stream.h"
#include "protocol_messages.h"

namespace vestrel::wire {
namespace {

constexpr uint16_t kAlice = 50412;
constexpr uint16_t kErin = 61023;
constexpr bool kSent = true;
constexpr bool kRcvd = false;

struct ExpectedMessage {
  uint16_t clientPort;
  bool sent;
  uint8_t id;
};

// The conversation as the monitor will print it.
const std::vector<ExpectedMessage> kSampleMessages = {
    {kAlice, kSent, 0x50},
    {kAlice, kRcvd, 0x25},
    {kAlice, kRcvd, 0x50},
    {kAlice, kSent, 0x25},
    {kAlice, kSent, 0x51},
    {kAlice, kRcvd, 0x51},
    {kAlice, kSent, 0x53},
    {kAlice, kRcvd, 0x53},
    {kAlice, kSent, 0x54},
    {kAlice, kRcvd, 0x54},
    // Entering the chat: three requests in one segment, two answers in one,
    // the channel, then the users already there packed together.
    {kAlice, kSent, 0x0A},
    {kAlice, kSent, 0x0B},
    {kAlice, kSent, 0x0C},
    {kAlice, kRcvd, 0x0A},
    {kAlice, kRcvd, 0x0B},
    {kAlice, kRcvd, 0x0F},
    {kAlice, kRcvd, 0x0F},
    {kAlice, kRcvd, 0x0F},
    {kAlice, kRcvd, 0x0F},
    {kAlice, kRcvd, 0x0F},
    // Talk and a whisper.
    {kAlice, kSent, 0x0E},
    {kAlice, kRcvd, 0x0F},
    {kAlice, kRcvd, 0x0F},
    {kAlice, kSent, 0x0E},
    {kAlice, kRcvd, 0x0F},
    {kAlice, kRcvd, 0x0F},
    // erin connects while the server pings alice.
    {kErin, kSent, 0x50},
    {kAlice, kRcvd, 0x25},
    {kAlice, kSent, 0x25},
    {kErin, kRcvd, 0x25},
    {kErin, kRcvd, 0x50},
    {kErin, kSent, 0x25},
    {kAlice, kSent, 0x0E},
    {kErin, kSent, 0x51},
    {kAlice, kRcvd, 0x0F},
    {kErin, kRcvd, 0x51},
    {kErin, kSent, 0x3A},
    {kErin, kRcvd, 0x3A},
    {kErin, kSent, 0x0A},
    {kErin, kRcvd, 0x0A},
    {kErin, kSent, 0x0C},
    {kErin, kRcvd, 0x0F},
    {kErin, kRcvd, 0x0F},
    {kErin, kRcvd, 0x0F},
    {kErin, kRcvd, 0x0F},
    {kErin, kRcvd, 0x0F},
    {kErin, kRcvd, 0x0F},
    {kAlice, kRcvd, 0x0F},
    // Both in the channel; alice leaves.
    {kAlice, kRcvd, 0x0F},
    {kAlice, kRcvd, 0x0F},
    {kErin, kSent, 0x0E},
    {kAlice, kRcvd, 0x0F},
    {kAlice, kRcvd, 0x0F},
    {kAlice, kRcvd, 0x0F},
    {kAlice, kSent, 0x0E},
    {kAlice, kSent, 0x10},
};

Bytes sampleFile(LinkType link = LinkType::Ethernet, FileFormat format = FileFormat::Pcap) {
  return writtenBytes(link, format, [](CaptureWriter& writer) { return writeSampleSession(writer); });
}

Bytes trafficFile(size_t messages, bool packed) {
  return writtenBytes(LinkType::Ethernet, FileFormat::Pcap, [&](CaptureWriter& writer) {
    return writeChatTraffic(writer, {messages, packed});
  });
}

std::vector<TcpSegmentSeen> segmentsOf(const Bytes& file, LinkType link = LinkType::Ethernet) {
  return tcpSegments(readCapture(file), link);
}

using Direction = std::pair<uint16_t, bool>;  // client port, sent by the client

Direction directionOf(const TcpSegmentSeen& segment) {
  const bool sent = segment.destinationPort == kChatPort;
  return {sent ? segment.sourcePort : segment.destinationPort, sent};
}

// Each direction of each connection: a SYN first, every sequence number
// continuing the one before, acknowledgements of all the peer sent, a FIN at
// the end and nothing but an acknowledgement after it; checksums verify.
void expectWholeConnections(const std::vector<TcpSegmentSeen>& segments) {
  std::map<Direction, uint32_t> next;
  std::map<Direction, bool> finished;
  for (size_t index = 0; index < segments.size(); ++index) {
    const TcpSegmentSeen& segment = segments[index];
    SCOPED_TRACE("segment " + std::to_string(index));
    EXPECT_TRUE(segment.ipChecksumGood);
    EXPECT_TRUE(segment.tcpChecksumGood);
    const Direction direction = directionOf(segment);
    const Direction reverse{direction.first, !direction.second};
    if ((segment.flags & kSyn) != 0) {
      EXPECT_FALSE(next.contains(direction)) << "a second SYN";
      next[direction] = segment.sequence;
    }
    ASSERT_TRUE(next.contains(direction)) << "data before the SYN";
    if (finished[direction]) {
      EXPECT_EQ(segment.flags, kAck) << "only acknowledgements after the FIN";
    }
    EXPECT_EQ(segment.sequence, next[direction]);
    if ((segment.flags & kAck) != 0) {
      ASSERT_TRUE(next.contains(reverse));
      EXPECT_EQ(segment.acknowledged, next[reverse]) << "acknowledges all the peer sent";
    }
    next[direction] +=
        static_cast<uint32_t>(segment.payload.size()) + ((segment.flags & kSyn) != 0) + ((segment.flags & kFin) != 0);
    finished[direction] = finished[direction] || (segment.flags & kFin) != 0;
  }
  for (const auto& [direction, done] : finished) EXPECT_TRUE(done) << "port " << direction.first << " never closed";
}

TEST(SampleSession, TheMonitorSeesTheWholeConversation) {
  const std::vector<TcpSegmentSeen> segments = segmentsOf(sampleFile());
  const StreamCut cut = cutIntoMessages(segments);
  EXPECT_TRUE(cut.problems.empty()) << cut.problems.front();
  EXPECT_EQ(cut.leftOver, 0U);
  ASSERT_EQ(cut.messages.size(), kSampleMessages.size());
  for (size_t index = 0; index < kSampleMessages.size(); ++index) {
    const ExpectedMessage& expected = kSampleMessages[index];
    const StreamMessage& seen = cut.messages[index];
    EXPECT_EQ(std::tie(seen.clientPort, seen.sent, seen.id), std::tie(expected.clientPort, expected.sent, expected.id))
        << "message " << index;
  }
}

// The only byte the monitor passes over is erin's protocol byte, which shares
// her first segment with SID_AUTH_INFO; that message's length must not let
// 0x01 0xFF pass for a header of a believable length.
TEST(SampleSession, SecondClientSendsProtocolByteWithItsFirstMessage) {
  const std::vector<TcpSegmentSeen> segments = segmentsOf(sampleFile());
  const StreamCut cut = cutIntoMessages(segments);
  ASSERT_EQ(cut.droppedAt.size(), 1U);
  EXPECT_EQ(cut.droppedBytes, 1U);
  const TcpSegmentSeen& first = segments[cut.droppedAt.front()];
  EXPECT_EQ(first.sourcePort, kErin);
  ASSERT_GE(first.payload.size(), 5U);
  EXPECT_EQ(head(first.payload, 3), hexBytes("01FF50"));
  EXPECT_GE(first.payload[3], 0x10);
  EXPECT_EQ(size_t{first.payload[3]} | size_t{first.payload[4]} << 8, first.payload.size() - 1);

  // alice's protocol byte comes alone, before anything else she sends.
  const auto aliceFirst = std::find_if(segments.begin(), segments.end(),
                                       [](const auto& s) { return s.sourcePort == kAlice && !s.payload.empty(); });
  ASSERT_NE(aliceFirst, segments.end());
  EXPECT_EQ(aliceFirst->payload, byte(0x01));
}

// How many messages each segment completed, by segment index.
std::map<size_t, size_t> messagesPerSegment(const StreamCut& cut) {
  std::map<size_t, size_t> perSegment;
  for (const StreamMessage& message : cut.messages) ++perSegment[message.segment];
  return perSegment;
}

size_t mostInOneSegment(const StreamCut& cut) {
  size_t most = 0;
  for (const auto& [segment, count] : messagesPerSegment(cut)) most = std::max(most, count);
  return most;
}

// Messages cut over segments (each completed by the very next one), and
// segments holding several messages.
TEST(SampleSession, SomeMessagesAreCutAndSomeShareSegments) {
  const std::vector<TcpSegmentSeen> segments = segmentsOf(sampleFile());
  const StreamCut cut = cutIntoMessages(segments);
  ASSERT_EQ(cut.cutAfter.size(), 2U) << "the key check and the long line";
  for (const size_t index : cut.cutAfter) {
    ASSERT_LT(index + 1, segments.size());
    EXPECT_EQ(directionOf(segments[index + 1]), directionOf(segments[index])) << "completed by the next segment";
    EXPECT_FALSE(segments[index + 1].payload.empty());
  }
  const auto perSegment = messagesPerSegment(cut);
  EXPECT_GE(std::count_if(perSegment.begin(), perSegment.end(), [](const auto& entry) { return entry.second > 1; }), 6);
  EXPECT_EQ(mostInOneSegment(cut), 6U) << "erin's channel and its five users";
}

TEST(SampleSession, ConnectionsOpenCarryDataAndClose) {
  const std::vector<TcpSegmentSeen> segments = segmentsOf(sampleFile());
  expectWholeConnections(segments);
  std::map<uint16_t, size_t> pureAcks;
  for (const TcpSegmentSeen& segment : segments) {
    EXPECT_EQ(segment.source >> 8, (directionOf(segment).second ? 0xC00002U : 0xC63364U))
        << "192.0.2.x clients, 198.51.100.x server";
    if (segment.flags == kAck && segment.payload.empty()) ++pureAcks[directionOf(segment).first];
  }
  // Besides the handshake and close ACKs, some acknowledge data alone.
  EXPECT_GT(pureAcks[kAlice], 2U);
  EXPECT_GT(pureAcks[kErin], 2U);
}

TEST(SampleSession, TimestampsStartOnTheDayAndMoveForward) {
  const CaptureFile capture = readCapture(sampleFile());
  ASSERT_FALSE(capture.frames.empty());
  EXPECT_EQ(capture.frames.front().time.tv_sec, 1796637600);  // 2026-12-07 10:00:00 UTC
  EXPECT_EQ(capture.frames.front().time.tv_usec, 0);
  for (size_t index = 1; index < capture.frames.size(); ++index) {
    const timeval before = capture.frames[index - 1].time;
    const timeval now = capture.frames[index].time;
    EXPECT_TRUE(now.tv_sec > before.tv_sec || (now.tv_sec == before.tv_sec && now.tv_usec > before.tv_usec))
        << "frame " << index;
  }
  const long lastSecond = capture.frames.back().time.tv_sec;
  EXPECT_GT(lastSecond - 1796637600, 30);
  EXPECT_LT(lastSecond - 1796637600, 180);
}

// Every link type and format carries the very same packets.
class SampleLinkTest : public testing::TestWithParam<std::tuple<LinkType, FileFormat>> {};

TEST_P(SampleLinkTest, CarriesTheSamePackets) {
  const auto [link, format] = GetParam();
  const CaptureFile reference = readCapture(sampleFile());
  const CaptureFile capture = readCapture(sampleFile(link, format));
  ASSERT_EQ(capture.frames.size(), reference.frames.size());
  for (size_t index = 0; index < capture.frames.size(); ++index) {
    EXPECT_EQ(tail(capture.frames[index].bytes, linkHeaderBytes(link)), tail(reference.frames[index].bytes, 14))
        << "frame " << index;
    EXPECT_EQ(capture.frames[index].time.tv_usec, reference.frames[index].time.tv_usec);
  }
}

INSTANTIATE_TEST_SUITE_P(AllLinks, SampleLinkTest,
                         testing::Combine(testing::Values(LinkType::Ethernet, LinkType::Vlan, LinkType::QinQ,
                                                          LinkType::LinuxCooked, LinkType::LinuxCooked2,
                                                          LinkType::BsdNull, LinkType::BsdLoop, LinkType::RawIp,
                                                          LinkType::Ipv4),
                                          testing::Values(FileFormat::Pcap, FileFormat::Pcapng)),
                         [](const auto& info) {
                           return std::string(linkTypeName(std::get<0>(info.param))) +
                                  (std::get<1>(info.param) == FileFormat::Pcap ? "_pcap" : "_pcapng");
                         });

TEST(SampleSession, CommittedSampleIsWhatTheGeneratorWrites) {
  const Bytes committed = fileBytes(VESTREL_SAMPLE_CAPTURE);
  const Bytes written = sampleFile();
  EXPECT_EQ(committed.size(), written.size());
  EXPECT_TRUE(committed == written) << "regenerate " VESTREL_SAMPLE_CAPTURE " with vestrel-gen -o";
}

struct TrafficCase {
  size_t messages;
  bool packed;
};

void PrintTo(const TrafficCase& c, std::ostream* out) {
  *out << c.messages << (c.packed ? " packed" : " one per segment");
}

class ChatTrafficTest : public testing::TestWithParam<TrafficCase> {};

TEST_P(ChatTrafficTest, ExactlyTheMessagesAskedFor) {
  const auto [messages, packed] = GetParam();
  const Bytes file = trafficFile(messages, packed);
  const std::vector<TcpSegmentSeen> segments = segmentsOf(file);
  expectWholeConnections(segments);
  const StreamCut cut = cutIntoMessages(segments);
  EXPECT_TRUE(cut.problems.empty());
  EXPECT_EQ(cut.leftOver, 0U);
  EXPECT_EQ(cut.droppedBytes, 0U);
  ASSERT_EQ(cut.messages.size(), messages);

  EXPECT_TRUE(cut.cutAfter.empty()) << "no message is cut";
  size_t dataSegments = 0;
  for (const TcpSegmentSeen& segment : segments) {
    if (segment.payload.size() <= 1) continue;
    ++dataSegments;
    EXPECT_LE(segment.payload.size(), 1460U);
  }
  if (packed) {
    EXPECT_LE(mostInOneSegment(cut), 4U);
    if (messages >= 100) {
      EXPECT_EQ(mostInOneSegment(cut), 4U);
    }
  } else {
    EXPECT_EQ(dataSegments, messages);
  }
  EXPECT_EQ(file, trafficFile(messages, packed)) << "the same request writes the same file";
}

INSTANTIATE_TEST_SUITE_P(Sizes, ChatTrafficTest,
                         testing::Values(TrafficCase{1, false}, TrafficCase{1, true}, TrafficCase{2, false},
                                         TrafficCase{57, false}, TrafficCase{57, true}, TrafficCase{1000, false},
                                         TrafficCase{1000, true}));

// A realistic mix: every kind of message turns up in a long run, in both
// directions.
TEST(ChatTraffic, MixesTheKindsOfChatMessages) {
  const StreamCut cut = cutIntoMessages(segmentsOf(trafficFile(1000, true)));
  std::map<std::pair<bool, uint8_t>, size_t> counts;
  std::map<uint32_t, size_t> events;
  for (const StreamMessage& message : cut.messages) {
    ++counts[{message.sent, message.id}];
    if (message.id == 0x0F && message.bytes.size() >= 8) events[message.bytes[4]]++;
  }
  for (const auto& kind :
       {std::pair{kSent, uint8_t{0x0E}}, {kSent, 0x25}, {kSent, 0x0B}, {kRcvd, 0x0F}, {kRcvd, 0x25}, {kRcvd, 0x0B}}) {
    EXPECT_GT(counts[kind], 5U) << (kind.first ? "sent 0x" : "received 0x") << std::hex << int{kind.second};
  }
  const size_t pingsSent = counts[{kSent, 0x25}];
  const size_t pingsReceived = counts[{kRcvd, 0x25}];
  EXPECT_EQ(pingsSent, pingsReceived) << "every ping answered";
  const size_t chatEvents = counts[{kRcvd, 0x0F}];
  EXPECT_GT(chatEvents, cut.messages.size() / 2) << "chat events are most of the traffic";
  for (const uint32_t event : {2U, 3U, 4U, 5U, 18U, 23U}) EXPECT_GT(events[event], 0U) << "event " << event;
}

}  // namespace
}  // namespace vestrel::wire
