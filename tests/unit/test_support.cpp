#include "test_support.h"

#include "decode/decode_details.h"
#include "decoder_cases.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <utility>

namespace vestrel::test {

Bytes tcpFrame(uint16_t sourcePort, uint16_t destinationPort, const Bytes& payload, FrameShape shape) {
  Bytes ethernet(12, 0x00);
  ethernet.push_back(0x08);  // IPv4
  ethernet.push_back(0x00);

  // The header fields are always written; a header length below the fixed
  // part only changes what the length field claims.
  const size_t ipHeaderLength = std::max<size_t>(size_t{shape.ipHeaderWords} * 4, 20);
  const size_t tcpHeaderLength = std::max<size_t>(size_t{shape.tcpHeaderWords} * 4, 20);
  const size_t trueTotal = ipHeaderLength + tcpHeaderLength + payload.size();
  const auto total = static_cast<uint16_t>(shape.overrideTotal ? shape.totalLength
                                                               : static_cast<int>(trueTotal) + shape.totalLengthAdjust);
  Bytes ip(ipHeaderLength, 0x00);
  ip[0] = static_cast<uint8_t>(0x40 | (shape.ipHeaderWords & 0x0F));
  ip[2] = static_cast<uint8_t>(total >> 8);
  ip[3] = static_cast<uint8_t>(total);
  ip[6] = static_cast<uint8_t>(shape.fragment >> 8);
  ip[7] = static_cast<uint8_t>(shape.fragment);
  ip[8] = 64;
  ip[9] = shape.protocol;
  ip[12] = 127, ip[15] = 1, ip[16] = 127, ip[19] = 1;

  Bytes tcp(tcpHeaderLength, 0x00);
  tcp[0] = static_cast<uint8_t>(sourcePort >> 8), tcp[1] = static_cast<uint8_t>(sourcePort);
  tcp[2] = static_cast<uint8_t>(destinationPort >> 8), tcp[3] = static_cast<uint8_t>(destinationPort);
  tcp[12] = static_cast<uint8_t>(shape.tcpHeaderWords << 4);
  tcp[13] = shape.flags;
  static std::map<std::pair<uint16_t, uint16_t>, uint32_t> nextSequence;
  uint32_t& next = nextSequence[{sourcePort, destinationPort}];
  const uint32_t sequence = shape.sequence.value_or(next);
  next = sequence + static_cast<uint32_t>(payload.size());
  for (size_t i = 0; i < 4; ++i) {
    tcp[4 + i] = static_cast<uint8_t>(sequence >> (24 - 8 * i));
    tcp[8 + i] = static_cast<uint8_t>(shape.acknowledgement >> (24 - 8 * i));
  }
  tcp[14] = static_cast<uint8_t>(shape.window >> 8), tcp[15] = static_cast<uint8_t>(shape.window);
  return ethernet + ip + tcp + payload;
}

ConsoleCapture::ConsoleCapture() : stream_(open_memstream(&buffer_, &size_)) { setConsole(stream_); }

ConsoleCapture::~ConsoleCapture() {
  setConsole(nullptr);
  static_cast<void>(std::fclose(stream_));  // a memory stream, read already
  std::free(buffer_);
}

std::string ConsoleCapture::text() {
  // The console hands over what it gathered; a memory stream's flush then
  // updates buffer_ and size_.
  static_cast<void>(std::fflush(console()));
  return {buffer_, size_};
}

DisplaySettings displaySettings(Flags flags) {
  return {.showUnknown = flags.showUnknown,
          .fullStrings = flags.fullStrings,
          .decoders = flags.fullSet ? DecoderSet::Full : DecoderSet::Classic};
}

std::string decodedDetails(bool sent, const Bytes& message, Flags flags) {
  ConsoleCapture output;
  const DisplaySettings options = displaySettings(flags);
  MessageReader reader;
  reader.attach(message.data());
  decodeDetails(reader, sent, options);
  return output.text();
}

std::string decodedJson(bool sent, const Bytes& message, Flags flags) {
  ConsoleCapture output;
  const DisplaySettings options = displaySettings(flags);
  MessageReader reader;
  reader.attach(message.data());
  decodeJsonFields(reader, sent, options);
  return output.text();
}

Bytes counting(size_t count, uint8_t first) {
  Bytes bytes;
  for (size_t i = 0; i < count; ++i) bytes.push_back(static_cast<uint8_t>(first + i));
  return bytes;
}

std::string countingHex(size_t count, uint8_t first) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (const uint8_t byte : counting(count, first)) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

std::string repeated(std::string_view text, size_t times) {
  std::string all;
  for (size_t i = 0; i < times; ++i) all += text;
  return all;
}

std::string digits(size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) text += static_cast<char>('0' + i % 10);
  return text;
}

}  // namespace vestrel::test
