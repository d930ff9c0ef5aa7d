// fuzz_seeds DIR: writes the starting corpora to DIR/fuzz_frames,
// DIR/fuzz_stream, DIR/fuzz_pcap_records and DIR/fuzz_filter (fuzz/corpus in the
// repository), all made by the
// project's own generator: the sample session's frames in every link layer,
// its stream cut as its segments cut it, every message the generator
// builds, and the hostile forms the unit tests feed the monitor.
#include <pcap/pcap.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "capture_writer.h"
#include "fuzz_input.h"
#include "protocol_messages.h"
#include "sample_session.h"
#include "stream/segment_handler.h"
#include "tcp_packets.h"

namespace vestrel::fuzz {

namespace {

using wire::Bytes;
using Frames = std::vector<Bytes>;
using Chunks = std::vector<Bytes>;

constexpr size_t kFramesPerSeed = 11;
constexpr size_t kSegmentsPerSeed = 8;

class SeedWriter {
 public:
  explicit SeedWriter(std::filesystem::path directory) : directory_(std::move(directory)) {
    std::filesystem::create_directories(directory_);
  }

  void write(const std::string& name, const std::vector<uint8_t>& input) {
    const std::filesystem::path path = directory_ / name;
    FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file != nullptr && std::fwrite(input.data(), 1, input.size(), file) == input.size();
    if (file == nullptr || std::fclose(file) != 0 || !written) {
      static_cast<void>(std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", path.c_str()));
      std::exit(1);
    }
  }

 private:
  std::filesystem::path directory_;
};

// Every frame of a capture the library has opened; closes it.
Frames allFrames(pcap_t* reader) {
  Frames frames;
  pcap_pkthdr* header = nullptr;
  const u_char* bytes = nullptr;
  while (pcap_next_ex(reader, &header, &bytes) == 1) frames.emplace_back(bytes, bytes + header->caplen);
  pcap_close(reader);
  return frames;
}

// The sample session as a capture of this link type, read back frame by
// frame through the capture library.
Frames sampleFrames(wire::LinkType linkType) {
  char* capture = nullptr;
  size_t captureSize = 0;
  FILE* out = open_memstream(&capture, &captureSize);
  wire::CaptureWriter writer(out, linkType, wire::FileFormat::Pcap);
  const bool written = wire::writeSampleSession(writer);
  const bool closed = std::fclose(out) == 0;
  FILE* in = written && closed ? fmemopen(capture, captureSize, "rb") : nullptr;
  std::array<char, PCAP_ERRBUF_SIZE> error{};
  pcap_t* reader = in != nullptr ? pcap_fopen_offline(in, error.data()) : nullptr;
  if (reader == nullptr) {
    static_cast<void>(std::fprintf(stderr, "fuzz_seeds: cannot read back the sample session: %s\n", error.data()));
    std::exit(1);
  }
  Frames frames = allFrames(reader);  // closes in
  std::free(capture);
  return frames;
}

std::vector<uint8_t> framesInput(LinkLayer linkLayer, uint8_t settings, std::span<const Bytes> frames) {
  std::vector<uint8_t> input{linkByte(linkLayer), settings};
  for (const Bytes& frame : frames) appendRecord(input, frame);
  return input;
}

std::vector<uint8_t> streamInput(std::span<const Bytes> chunks) {
  std::vector<uint8_t> input;
  for (const Bytes& chunk : chunks) appendRecord(input, chunk);
  return input;
}

template <typename T>
std::span<const T> group(const std::vector<T>& all, size_t index, size_t perGroup) {
  const size_t first = std::min(index * perGroup, all.size());
  return std::span<const T>(all).subspan(first, std::min(perGroup, all.size() - first));
}

constexpr uint8_t kSettingsCycle[] = {0,
                                      kShowUnknown,
                                      kFullStrings,
                                      kShowUnknown | kFullStrings | kLog,
                                      kLog | kReadingFile,
                                      kFullLog,
                                      kPerConnection,
                                      kPerConnection | kPrefixes | kLog,
                                      kPerConnection | kJson | kShowUnknown};

// Ethernet gets the whole session; every other link layer two parts of it.
void writeSampleFrameSeeds(SeedWriter& seeds) {
  size_t settingsIndex = 0;
  size_t linkIndex = 0;
  for (const wire::LinkTypeName& link : wire::linkTypeNames()) {
    const Frames frames = sampleFrames(link.type);
    const auto linkLayer = linkLayerFor(wire::fileLinkType(link.type));
    if (!linkLayer) continue;
    const size_t groups = (frames.size() + kFramesPerSeed - 1) / kFramesPerSeed;
    const size_t firstPart = linkIndex++ % groups;
    const size_t secondPart = (firstPart + groups / 2) % groups;
    for (size_t index = 0; index < groups; ++index) {
      const bool wanted = link.type == wire::LinkType::Ethernet || index == firstPart || index == secondPart;
      if (!wanted) continue;
      const uint8_t settings = kSettingsCycle[settingsIndex++ % std::size(kSettingsCycle)];
      seeds.write("session-" + std::string(link.name) + "-" + std::to_string(index),
                  framesInput(*linkLayer, settings, group(frames, index, kFramesPerSeed)));
    }
  }
}

// Payloads as one client's data segments in Ethernet frames.
class FrameMaker {
 public:
  Bytes client(const Bytes& payload) { return frame(wire::Side::Client, payload); }
  Bytes server(const Bytes& payload) { return frame(wire::Side::Server, payload); }

 private:
  Bytes frame(wire::Side side, const Bytes& payload) {
    return wire::linkHeader(wire::LinkType::Ethernet, side == wire::Side::Client) +
           connection_.data(side, payload).bytes;
  }

  wire::TcpConnection connection_{{{10, 0, 0, 2}, 50000}, {{10, 0, 0, 1}, kBncsPort}, 1000, 2000};
};

Bytes cut(Bytes frame, size_t length) {
  frame.resize(std::min(length, frame.size()));
  return frame;
}

Bytes withByte(Bytes frame, size_t offset, uint8_t value) {
  if (offset < frame.size()) frame[offset] = value;
  return frame;
}

// Frames whose headers lie or are cut, and streams that lose their step.
void writeHostileFrameSeeds(SeedWriter& seeds) {
  FrameMaker maker;
  const Bytes ping = wire::ping(0x1234);
  const Bytes oversize = wire::header(0xFF, 0x0F, 6000) + wire::fill(5996, 0x41);
  const Bytes good = maker.client(ping);
  constexpr size_t kIpStart = 14;
  seeds.write("cut-and-lying-headers",
              framesInput(LinkLayer::Ethernet, 0,
                          Frames{cut(good, 5), cut(good, 14), cut(good, 30), cut(good, 50),
                                 withByte(good, kIpStart, 0x46), withByte(good, kIpStart + 20 + 12, 0xF0),
                                 withByte(withByte(good, kIpStart + 2, 0), kIpStart + 3, 30),
                                 withByte(good, kIpStart + 6, 0x20), good}));
  seeds.write("oversize-over-segments", framesInput(LinkLayer::Ethernet, kLog,
                                                    Frames{maker.server(wire::head(oversize, 2000)),
                                                           maker.server(wire::slice(oversize, 2000, 4500)),
                                                           maker.server(wire::tail(oversize, 4500) + ping)}));
  seeds.write(
      "garbage-then-messages",
      framesInput(
          LinkLayer::Ethernet, kShowUnknown,
          Frames{maker.client(wire::protocolByte()), maker.client(ping), maker.client(wire::raw("GET / HTTP/1.0\r\n")),
                 maker.client(wire::header(0xFF, 0x25, 2) + ping),
                 maker.client(wire::header(0x41, 0x42, 0x2000) + ping + wire::enterChat("alice", ""))}));
}

// The payload of every chat-port segment of the sample session.
Chunks sampleStream() {
  Chunks chunks;
  for (const Bytes& frame : sampleFrames(wire::LinkType::Ethernet)) {
    const auto segment = findTcpSegment(LinkLayer::Ethernet, frame);
    if (segment && !segment->payload.empty()) chunks.emplace_back(segment->payload.begin(), segment->payload.end());
  }
  return chunks;
}

struct NamedMessage {
  const char* name;
  Bytes bytes;
};

std::vector<NamedMessage> builtMessages() {
  using namespace wire;
  const std::string_view hash = "5B2E8C41D09F7A36E1C4B8520F9D6A3B7E4C1D85";
  const std::string_view key64 = "7A1F9C3E5B0D2846E1C7A93F5D0B28E64C1A7F3D9E5B0826C4E1A7F3D9B5062E";
  return {
      {"auth-info",
       clientAuthInfo({"68XI", "PX3W", 0x1C, "SUne", {192, 0, 2, 10}, 300, 0x409, 0x409, "USA", "United States"})},
      {"auth-challenge", authChallenge({2, 0x6E9F2C41, 0x0D4B7A13, 0x01DD5C006712F3A4, "ver-IX86-3.mpq",
                                        "A=1239576727 B=1604096186 C=4198514212 4 A=A+S B=B-C C=C^A A=A-B"})},
      {"ping", ping(0x5D1E88A3)},
      {"auth-check", authCheck({0x7C3E9A21,
                                0x011C0001,
                                0x6F4B9D27,
                                {{26, 0x0E, 0x00A7C4D2, hash}, {26, 0x12, 0x003B9E15, hash}},
                                "war3.exe 03/18/17 20:03:55 471040",
                                "alice"})},
      {"auth-check-result", authCheckResult(0x201, "war3.exe")},
      {"account-logon", accountLogon(key64, "alice")},
      {"account-logon-result", accountLogonResult(0, std::string(key64) + std::string(key64))},
      {"account-logon-proof", accountLogonProof(hash)},
      {"account-logon-proof-result", accountLogonProofResult(0x0E, hash)},
      {"logon-response", logonResponse2(0x2A91F3C4, 0x3B81E5F0, hash, "erin")},
      {"logon-result", logonResult2(2)},
      {"enter-chat", enterChat("alice", "")},
      {"enter-chat-reply", enterChatReply("alice", "PX3W 3H3W 14 SLNV", "alice")},
      {"channel-list-request", channelListRequest("PX3W")},
      {"channel-list", channelList({"Town Square", "Chat Lounge", "Clan Recruitment"})},
      {"join-channel", joinChannel(kFirstJoin, "Town Square")},
      {"chat-command", chatCommand("/w dave are you around for a game later?")},
      {"leave-chat", leaveChat()},
      {"chat-event-talk", chatEvent(ChatEvent::Talk, kOperator, 46, "carol", "welcome back, \x1b[2J friends")},
      {"chat-event-info", chatEvent(ChatEvent::Info, kNoFlags, 0, "", "The server will restart at 12:00 UTC.")},
  };
}

// A message with its body cut to half, its length field telling the truth.
Bytes halfBody(const Bytes& message) {
  const Bytes body = wire::tail(message, 4);
  return wire::msg(message[1], wire::head(body, body.size() / 2));
}

void writeStreamSeeds(SeedWriter& seeds) {
  const Chunks stream = sampleStream();
  for (size_t index = 0; index * kSegmentsPerSeed < stream.size(); ++index) {
    seeds.write("session-stream-" + std::to_string(index), streamInput(group(stream, index, kSegmentsPerSeed)));
  }
  Chunks halves;
  for (const NamedMessage& message : builtMessages()) {
    seeds.write(std::string("message-") + message.name, streamInput(Chunks{message.bytes}));
    halves.push_back(halfBody(message.bytes));
  }
  seeds.write("messages-cut-short", streamInput(halves));

  Bytes everyIdEmpty;
  for (int id = 0; id < 256; ++id) everyIdEmpty = everyIdEmpty + wire::msg(static_cast<uint8_t>(id));
  seeds.write("every-id-empty-body", streamInput(Chunks{everyIdEmpty}));

  const Bytes ping = wire::ping(7);
  Chunks bytewise;
  for (const uint8_t byte : wire::enterChat("alice", "PX3W")) bytewise.push_back(Bytes{byte});
  seeds.write("message-byte-by-byte", streamInput(bytewise));
  seeds.write("lost-step", streamInput(Chunks{wire::raw("no marker here"), ping, wire::header(0xFF, 0x25, 2) + ping,
                                              wire::header(0x41, 0x42, 0x2000) + ping,
                                              wire::header(0x00, 0x99, 8) + wire::dword(7) + ping}));
  seeds.write("oversize", streamInput(Chunks{wire::header(0xFF, 0x0E, 5000) + wire::fill(3000, 0x41),
                                             wire::fill(1996, 0x42) + ping, wire::header(0xFF, 0x50, 0xFFFF)}));
}

// A real session (an Ethernet capture): its frames in groups, each
// connection on its own in the console's and JSON's settings; and each
// connection's stream in each direction, where every message of the
// protocol the session holds reaches the full set's tables.
constexpr size_t kRealFramesPerSeed = 40;

void writeRealSessionSeeds(SeedWriter& frameSeeds, SeedWriter& streamSeeds, const std::filesystem::path& capture) {
  std::array<char, PCAP_ERRBUF_SIZE> error{};
  pcap_t* reader = pcap_open_offline(capture.c_str(), error.data());
  if (reader == nullptr || pcap_datalink(reader) != DLT_EN10MB) {
    static_cast<void>(
        std::fprintf(stderr, "fuzz_seeds: %s: not an Ethernet capture: %s\n", capture.c_str(), error.data()));
    std::exit(1);
  }
  const Frames frames = allFrames(reader);
  const std::string name = capture.stem().string();
  constexpr uint8_t kSettings[] = {kPerConnection | kShowUnknown, kPerConnection | kJson | kShowUnknown,
                                   kPerConnection | kJson};
  for (size_t index = 0; index * kRealFramesPerSeed < frames.size(); ++index) {
    frameSeeds.write(name + "-" + std::to_string(index),
                     framesInput(LinkLayer::Ethernet, kSettings[index % std::size(kSettings)],
                                 group(frames, index, kRealFramesPerSeed)));
  }
  std::map<std::pair<uint16_t, uint16_t>, Chunks> streams;
  for (const Bytes& frame : frames) {
    const auto segment = findTcpSegment(LinkLayer::Ethernet, frame);
    if (segment && !segment->payload.empty()) {
      streams[{segment->sourcePort, segment->destinationPort}].emplace_back(segment->payload.begin(),
                                                                            segment->payload.end());
    }
  }
  for (const auto& [ports, chunks] : streams) {
    streamSeeds.write(name + "-" + std::to_string(ports.first) + "-" + std::to_string(ports.second),
                      streamInput(chunks));
  }
}

// A settings byte, then records: a pcap record header (little-endian here,
// read in the order the settings byte picks) and its bytes.
std::vector<uint8_t> recordsInput(uint8_t settings, const std::vector<std::array<uint32_t, 4>>& headers,
                                  size_t cutLast = 0) {
  std::vector<uint8_t> input{settings};
  for (const auto& header : headers) {
    for (const uint32_t field : header) {
      for (int i = 0; i < 4; ++i) input.push_back(static_cast<uint8_t>(field >> (8 * i)));
    }
    input.insert(input.end(), std::min<uint32_t>(header[2], 200), 0x45);
  }
  input.resize(input.size() - std::min(cutLast, input.size() - 1));
  return input;
}

void writePcapRecordSeeds(SeedWriter& seeds) {
  seeds.write("two", recordsInput(0, {{1, 2, 60, 60}, {3, 4, 0, 0}}));
  seeds.write("nanoseconds_big_endian", recordsInput(3, {{1, 999999999, 60, 60}}));
  seeds.write("past_snapshot", recordsInput(1 << 2, {{1, 2, 60, 60}, {1, 2, 70, 70}}));
  seeds.write("cut_short", recordsInput(0, {{1, 2, 60, 60}, {1, 2, 60, 60}}, 30));
  seeds.write("header_cut", recordsInput(0, {{1, 2, 60, 60}}, 70));
}

// -Y's expressions of every form, each over a whisper the client sent.
void writeFilterSeeds(SeedWriter& seeds) {
  static constexpr std::string_view kExpressions[] = {
      "name == SID_CHATCOMMAND",
      "text contains \"/w\" and direction == sent",
      "not (result == 0) || id > 0x0E",
      "username matches \"^rp(Alpha|Bravo)$\" or length < 100",
      "(event_id == 5 && !email) or channels == \"Backstage\"",
      "text == \"a\\x41\\n\\\"\" or product != \"STAR\" or password_hash > \"00\"",
  };
  // The text's zero ends it; the literal's own is not sent.
  static constexpr char kWhisperBytes[] = "\n\x0E\x01/w rpAlpha psst\0";
  constexpr std::string_view kWhisper(kWhisperBytes, sizeof kWhisperBytes - 1);
  int index = 0;
  for (const std::string_view expression : kExpressions) {
    std::vector<uint8_t> input(expression.begin(), expression.end());
    input.insert(input.end(), kWhisper.begin(), kWhisper.end());
    seeds.write("expression-" + std::to_string(index++), input);
  }
}

}  // namespace

}  // namespace vestrel::fuzz

int main(int argc, char** argv) {
  if (argc < 2) {
    static_cast<void>(std::fprintf(
        stderr,
        "usage: fuzz_seeds DIR [CAPTURE...]   (writes DIR/fuzz_frames, DIR/fuzz_stream, "
        "DIR/fuzz_pcap_records and DIR/fuzz_filter; each CAPTURE, a real session, adds its frames and streams)\n"));
    return 2;
  }
  const std::filesystem::path root = argv[1];
  vestrel::fuzz::SeedWriter frames(root / "fuzz_frames");
  vestrel::fuzz::writeSampleFrameSeeds(frames);
  vestrel::fuzz::writeHostileFrameSeeds(frames);
  vestrel::fuzz::SeedWriter stream(root / "fuzz_stream");
  vestrel::fuzz::writeStreamSeeds(stream);
  for (int index = 2; index < argc; ++index) vestrel::fuzz::writeRealSessionSeeds(frames, stream, argv[index]);
  vestrel::fuzz::SeedWriter records(root / "fuzz_pcap_records");
  vestrel::fuzz::writePcapRecordSeeds(records);
  vestrel::fuzz::SeedWriter filters(root / "fuzz_filter");
  vestrel::fuzz::writeFilterSeeds(filters);
  return 0;
}
