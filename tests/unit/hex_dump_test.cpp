// The traffic log's hex dump, byte for byte.
#include "output/hex_dump.h"

#include "decode/message_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <vector>

#include "test_support.h"

namespace vestrel {
namespace {

using test::Bytes;
using test::cstr;
using test::header;
using test::msg;

std::string dumpOf(const Bytes& message, const char* label) {
  MessageReader reader;
  reader.attach(message.data());
  return std::string(formatHexDump(reader.bytes(), label).text());
}

struct DumpCase {
  const char* name;
  Bytes message;
  const char* label;
  std::string dump;
};

void PrintTo(const DumpCase& c, std::ostream* out) { *out << c.name; }

class HexDumpText : public ::testing::TestWithParam<DumpCase> {};

TEST_P(HexDumpText, IsExact) { EXPECT_EQ(dumpOf(GetParam().message, GetParam().label), GetParam().dump); }

const std::string kBlanks(48, ' ');

INSTANTIATE_TEST_SUITE_P(
    Dumps, HexDumpText,
    ::testing::Values(
        DumpCase{"FourBytes", Bytes{0xFF, 0x25, 0x04, 0x00}, "Sent",
                 "Sent packet 0x25, Length 4:\n"
                 "0000 FF 25 04 00 " +
                     kBlanks.substr(0, 36) + "\xFF%..\n\n"},
        DumpCase{"SixteenBytesOneFullLine", msg(0x0E, cstr("hello world")), "Rcvd",
                 "Rcvd packet 0x0E, Length 16:\n"
                 "0000 FF 0E 10 00 68 65 6C 6C 6F 20 77 6F 72 6C 64 00 \xFF...hello world.\n\n"},
        DumpCase{"SeventeenBytes", msg(0x0E, cstr("hello world!")), "Sent",
                 "Sent packet 0x0E, Length 17:\n"
                 "0000 FF 0E 11 00 68 65 6C 6C 6F 20 77 6F 72 6C 64 21 \xFF...hello world!\n"
                 "0010 00 " +
                     kBlanks.substr(0, 45) + ".\n\n"},
        DumpCase{"ThirtyThreeBytes", msg(0x0F, cstr("abcdefghijklmnopqrstuvwxyz01")), "Rcvd",
                 "Rcvd packet 0x0F, Length 33:\n"
                 "0000 FF 0F 21 00 61 62 63 64 65 66 67 68 69 6A 6B 6C \xFF.!.abcdefghijkl\n"
                 "0010 6D 6E 6F 70 71 72 73 74 75 76 77 78 79 7A 30 31 mnopqrstuvwxyz01\n"
                 "0020 00 " +
                     kBlanks.substr(0, 45) + ".\n\n"},
        DumpCase{"HighBytesAsTheyAre",
                 header(0xFF, 0x0F, 20) + Bytes{0x7F, 0x80, 0x81, 0x9C, 0xA0, 0xC3, 0xA9, 0xFE, 0xFF, 0x1F, 0x20, 0x7E,
                                                0x00, 0x0A, 0x0D, 0x1B},
                 "Rcvd",
                 "Rcvd packet 0x0F, Length 20:\n"
                 "0000 FF 0F 14 00 7F 80 81 9C A0 C3 A9 FE FF 1F 20 7E \xFF...\x7F\x80\x81\x9C\xA0\xC3\xA9\xFE\xFF. ~\n"
                 "0010 00 0A 0D 1B " +
                     kBlanks.substr(0, 36) + "....\n\n"},
        DumpCase{"UnknownIdIsDumpedToo", msg(0x99), "Sent",
                 "Sent packet 0x99, Length 4:\n"
                 "0000 FF 99 04 00 " +
                     kBlanks.substr(0, 36) + "\xFF\x99..\n\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Every byte value lands in its column: the hex pair at 5 + 3 x column, the
// character at 53 + column.
TEST(HexDumpText, EveryByteValueInItsColumns) {
  Bytes message = header(0xFF, 0x0F, 4 + 256);
  for (int value = 0; value < 256; ++value) message.push_back(static_cast<uint8_t>(value));
  const std::string dump = dumpOf(message, "Rcvd");
  const size_t headingLength = std::string("Rcvd packet 0x0F, Length 260:\n").size();
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (size_t offset = 0; offset < message.size(); ++offset) {
    const size_t line = headingLength + offset / 16 * 70;
    const size_t column = offset % 16;
    const uint8_t byte = message[offset];
    ASSERT_EQ(dump[line + 5 + 3 * column], kDigits[byte >> 4]) << offset;
    ASSERT_EQ(dump[line + 6 + 3 * column], kDigits[byte & 0x0F]) << offset;
    ASSERT_EQ(static_cast<uint8_t>(dump[line + 53 + column]), byte >= 0x20 ? byte : '.') << offset;
  }
}

// The text never outgrows the one allocation made for it: heading, a
// 70-byte line per 16 bytes, a shorter one for the rest (its character
// column only as long as the bytes), and the empty line.
TEST(HexDumpText, FitsItsCapacityForEverySize) {
  for (uint16_t size = 4; size <= 4096; ++size) {
    const Bytes message = header(0xFF, 0xFF, size) + Bytes(size - 4, 0xFF);
    const std::string dump = dumpOf(message, "Rcvd");
    const std::string heading = "Rcvd packet 0xFF, Length " + std::to_string(size) + ":\n";
    const size_t rest = size % 16;
    ASSERT_EQ(dump.size(), heading.size() + size_t{size} / 16 * 70 + (rest > 0 ? 54 + rest : 0) + 1) << size;
    ASSERT_LE(dump.size(), hexDumpCapacity(size)) << size;
    ASSERT_EQ(hexDumpCapacity(size), size_t{size} / 16 * 71 + 106) << size;
    ASSERT_TRUE(dump.starts_with(heading)) << size;
  }
}

TEST(HexLine, OffsetAndPadding) {
  std::array<char, kHexLineCapacity> line{};
  const uint8_t bytes[] = {0x41, 0x00};
  const size_t length = formatHexLine(0xFF, line, bytes);
  EXPECT_EQ(std::string(line.data(), length), "0FF0 41 00 " + kBlanks.substr(0, 42) + "A.");
  EXPECT_EQ(length, 69u - 14u);
}

// The log gathers dumps in blocks: across a block's end, and for a dump
// larger than a block, it holds exactly the dumps one after another.
TEST(HexDumpLog, HoldsEveryDumpInOrderAcrossBlocks) {
  char* text = nullptr;
  size_t length = 0;
  FILE* log = open_memstream(&text, &length);
  ASSERT_NE(log, nullptr);
  HexDumpLog blocks;
  std::string expected;
  // 300 dumps of about 3 KB pass several block ends; one of 65535 bytes
  // is larger than a block.
  std::vector<uint16_t> sizes(300, 700);
  sizes.insert(sizes.end(), {65535, 4, 701});
  for (const uint16_t size : sizes) {
    const Bytes message = header(0xFF, static_cast<uint8_t>(size), size) + Bytes(size - 4, static_cast<uint8_t>(size));
    expected += dumpOf(message, size % 2 == 0 ? "Sent" : "Rcvd");
    ASSERT_TRUE(blocks.write(log, message, size % 2 == 0 ? "Sent" : "Rcvd"));
  }
  ASSERT_TRUE(blocks.flush(log));
  EXPECT_EQ(std::string(text, length), expected);
  static_cast<void>(std::fclose(log));
  std::free(text);
}

}  // namespace
}  // namespace vestrel
