// The program reads classic pcap files itself: every record, every time
// stamp and every error must be exactly what the capture library gives for
// the same file.
#include "capture/pcap_records.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "common/pcap_record_list.h"

namespace vestrel {
namespace {

struct Record {
  uint32_t seconds = 1;
  uint32_t fraction = 2;
  uint32_t captured = 60;
  uint32_t length = 60;
  size_t present = SIZE_MAX;  // bytes of the record in the file: all of it by default
};

struct FileCase {
  const char* name;
  uint32_t magic = 0xA1B2C3D4;
  bool bigEndian = false;
  uint32_t snapshot = 65535;
  std::vector<Record> records;
  size_t trailing = 0;  // stray bytes after the last record
};

void PrintTo(const FileCase& c, std::ostream* out) { *out << c.name; }

std::string fileOf(const FileCase& c) {
  std::string out = test::pcapFileHeader(c.magic, c.bigEndian, c.snapshot);
  for (const Record& record : c.records) {
    std::string bytes;
    for (const uint32_t field : {record.seconds, record.fraction, record.captured, record.length}) {
      test::put32(bytes, field, c.bigEndian);
    }
    for (uint32_t i = 0; i < record.captured; ++i) bytes += static_cast<char>(i * 7 + record.seconds);
    out += bytes.substr(0, record.present);
  }
  return out + std::string(c.trailing, '\x5A');
}

class PcapRecords : public ::testing::TestWithParam<FileCase> {};

TEST_P(PcapRecords, ReadsAsTheLibraryDoes) {
  const std::string bytes = fileOf(GetParam());
  const int descriptor = memfd_create("capture", 0);
  ASSERT_GE(descriptor, 0);
  ASSERT_EQ(write(descriptor, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  const test::RecordList expected = test::recordsByLibrary(descriptor);
  const test::RecordList read = test::recordsByReader(descriptor);
  close(descriptor);
  ASSERT_TRUE(expected.opened);
  EXPECT_EQ(read.records.size(), expected.records.size());
  EXPECT_EQ(read.error, expected.error);
  EXPECT_TRUE(read == expected);
}

// Records of many lengths, so that they straddle every read of the file.
std::vector<Record> manyRecords() {
  std::vector<Record> records;
  for (uint32_t i = 0; i < 3000; ++i) records.push_back({i, i * 1000, 40 + i * 37 % 1500, 1514});
  records.push_back({7, 7, 262144, 262144});
  return records;
}

constexpr uint32_t kNanoMagic = 0xA1B23C4D;
constexpr uint32_t kLongest = 262144;

INSTANTIATE_TEST_SUITE_P(
    Files, PcapRecords,
    ::testing::Values(
        FileCase{.name = "TwoRecords", .records = {{}, {3, 999999, 0, 0}}}, FileCase{.name = "NoRecords"},
        FileCase{.name = "BigEndian", .bigEndian = true, .records = {{}, {5, 6, 100, 200}}},
        FileCase{.name = "Nanoseconds", .magic = kNanoMagic, .records = {{1, 999999999}, {2, 1999}, {3, 0xFFFFFFFF}}},
        FileCase{.name = "NanosecondsBigEndian", .magic = kNanoMagic, .bigEndian = true, .records = {{1, 123456789}}},
        FileCase{.name = "TimesPastTheSignBit", .records = {{0xFFFFFFFF, 0x80000000}}},
        FileCase{.name = "TimesPastTheSignBitBigEndian",
                 .magic = kNanoMagic,
                 .bigEndian = true,
                 .records = {{0xFFFFFFFF, 0x80000000}}},
        FileCase{.name = "CapturedLongerThanSent", .records = {{1, 2, 60, 10}}},
        FileCase{.name = "HeaderCutShort", .records = {{}}, .trailing = 10},
        FileCase{.name = "RecordCutShort", .records = {{}, {.present = 40}}},
        FileCase{.name = "RecordWithoutBytes", .records = {{.present = 16}}},
        FileCase{.name = "LongerThanTheSnapshotIsCut", .snapshot = 50, .records = {{}, {}}},
        FileCase{.name = "CutWithinTheSnapshot", .snapshot = 50, .records = {{.present = 16 + 45}}},
        FileCase{.name = "CutPastTheSnapshot", .snapshot = 50, .records = {{.present = 16 + 55}}},
        FileCase{.name = "PastTheLongestAndTheSnapshot", .records = {{}, {.captured = kLongest + 1}}},
        FileCase{
            .name = "PastTheLongestWithinTheSnapshot", .snapshot = 10'000'000, .records = {{.captured = kLongest + 1}}},
        FileCase{.name = "LongestRecord", .snapshot = 10'000'000, .records = {{.captured = kLongest}}},
        FileCase{.name = "SnapshotZero", .snapshot = 0, .records = {{.captured = 70000}}},
        FileCase{.name = "SnapshotPastTheSignBit", .snapshot = 0x80000000, .records = {{}}},
        FileCase{.name = "ManyAcrossReads", .snapshot = kLongest, .records = manyRecords()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PcapRecords, LeavesOtherFormatsToTheLibrary) {
  std::array<uint8_t, kPcapFileHeaderLength> header{0xD4, 0xC3, 0xB2, 0xA1, 2, 0, 4, 0};
  EXPECT_TRUE(classicPcapFormat(header).has_value());
  header[6] = 3;  // version 2.3
  EXPECT_FALSE(classicPcapFormat(header).has_value());
  header = {0x0A, 0x0D, 0x0D, 0x0A};  // pcapng
  EXPECT_FALSE(classicPcapFormat(header).has_value());
  header = {0x34, 0xCD, 0xB2, 0xA1, 2, 0, 4, 0};  // the modified format of old Linux patches
  EXPECT_FALSE(classicPcapFormat(header).has_value());
}

}  // namespace
}  // namespace vestrel
