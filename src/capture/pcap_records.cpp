#include "capture/pcap_records.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace vestrel {

namespace {

constexpr uint32_t kMicrosecondMagic = 0xA1B2C3D4;
constexpr uint32_t kNanosecondMagic = 0xA1B23C4D;
constexpr uint16_t kMajorVersion = 2;
constexpr uint16_t kMinorVersion = 4;
constexpr size_t kRecordHeaderLength = 16;
constexpr uint32_t kNanosecondsPerMicrosecond = 1000;
// The longest record the library takes for the link types this program
// reads; a longer one is a damaged file.
constexpr uint32_t kLongestRecord = 262144;
// Each read of the file asks for this much (more for a longer record): a
// block small enough to stay in the processor's cache until it is parsed.
constexpr size_t kReadBlock = size_t{262144};

template <typename Number>
Number hostOrder(const uint8_t* bytes, bool swapped) {
  Number value;
  std::memcpy(&value, bytes, sizeof value);
  if (!swapped) return value;
  if constexpr (sizeof value == 2) return static_cast<Number>(__builtin_bswap16(value));
  return __builtin_bswap32(value);
}

std::string truncatedRecord(size_t wanted, size_t got) {
  return "truncated dump file; tried to read " + std::to_string(wanted) + " captured bytes, only got " +
         std::to_string(got);
}

}  // namespace

std::optional<PcapFileFormat> classicPcapFormat(std::span<const uint8_t, kPcapFileHeaderLength> header) {
  PcapFileFormat format;
  uint32_t magic = hostOrder<uint32_t>(header.data(), false);
  if (magic != kMicrosecondMagic && magic != kNanosecondMagic) {
    format.swapped = true;
    magic = __builtin_bswap32(magic);
    if (magic != kMicrosecondMagic && magic != kNanosecondMagic) return std::nullopt;
  }
  format.nanoseconds = magic == kNanosecondMagic;
  const auto major = hostOrder<uint16_t>(header.data() + 4, format.swapped);
  const auto minor = hostOrder<uint16_t>(header.data() + 6, format.swapped);
  if (major != kMajorVersion || minor != kMinorVersion) return std::nullopt;
  return format;
}

std::optional<ClassicPcapStart> findClassicPcap(int descriptor) {
  const off_t offset = lseek(descriptor, 0, SEEK_CUR);
  if (offset < 0) return std::nullopt;
  std::array<uint8_t, kPcapFileHeaderLength> header{};
  if (pread(descriptor, header.data(), header.size(), offset) != static_cast<ssize_t>(header.size())) {
    return std::nullopt;
  }
  const auto format = classicPcapFormat(header);
  if (!format) return std::nullopt;
  return ClassicPcapStart{*format, offset + static_cast<off_t>(header.size())};
}

PcapRecordReader::PcapRecordReader(int descriptor, const ClassicPcapStart& start, int snapshot)
    : descriptor_(descriptor),
      format_(start.format),
      snapshot_(static_cast<uint32_t>(std::max(snapshot, 0))),
      buffer_(kReadBlock + kRecordHeaderLength + kLongestRecord) {
  // A failed move shows as a failed first read.
  if (lseek(descriptor, start.recordsOffset, SEEK_SET) < 0) noteReadFailure();
}

void PcapRecordReader::noteReadFailure() {
  readFailed_ = true;
  error_ = std::string("error reading dump file: ") + std::strerror(errno);
}

size_t PcapRecordReader::refill(size_t count) {
  if (readFailed_) return std::min(count, end_ - begin_);
  // The unread part moves to the front, leaving a block's room behind it.
  std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
  end_ -= begin_;
  begin_ = 0;
  while (end_ < count) {
    const size_t wanted = std::min(std::max(kReadBlock, count - end_), buffer_.size() - end_);
    const ssize_t got = ::read(descriptor_, buffer_.data() + end_, wanted);
    if (got > 0) {
      end_ += static_cast<size_t>(got);
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      noteReadFailure();
      break;
    }
  }
  return std::min(count, end_);
}

uint32_t PcapRecordReader::field(size_t offset) const {
  return hostOrder<uint32_t>(buffer_.data() + begin_ + offset, format_.swapped);
}

// The library reads a time field as a signed number from a file in the
// machine's byte order, and as an unsigned one from a file in the other.
int64_t PcapRecordReader::timeField(size_t offset) const {
  const uint32_t value = field(offset);
  return format_.swapped ? int64_t{value} : int64_t{static_cast<int32_t>(value)};
}

PcapRecordReader::Status PcapRecordReader::fail(std::string text) {
  if (!readFailed_) error_ = std::move(text);
  return Status::Error;
}

PcapRecordReader::Status PcapRecordReader::next(pcap_pkthdr& header, const uint8_t*& bytes) {
  const size_t headerBytes = available(kRecordHeaderLength);
  if (headerBytes == 0 && !readFailed_) return Status::End;
  if (headerBytes < kRecordHeaderLength) {
    return fail("truncated dump file; tried to read 16 header bytes, only got " + std::to_string(headerBytes));
  }
  header.ts.tv_sec = timeField(0);
  header.ts.tv_usec = timeField(4);
  if (format_.nanoseconds) header.ts.tv_usec /= kNanosecondsPerMicrosecond;
  const uint32_t captured = field(8);
  header.len = field(12);
  if (captured > kLongestRecord) {
    return fail("invalid packet capture length " + std::to_string(captured) + ", bigger than " +
                (captured > snapshot_ ? "snaplen of " + std::to_string(snapshot_)
                                      : "maximum of " + std::to_string(kLongestRecord)));
  }
  const size_t got = available(kRecordHeaderLength + captured) - kRecordHeaderLength;
  if (got < captured) {
    // A record longer than the snapshot length is kept only to that length;
    // the file is cut short within that part or within the rest.
    const size_t kept = std::min(captured, snapshot_);
    return fail(truncatedRecord(got < kept ? kept : captured, got));
  }
  header.caplen = std::min(captured, snapshot_);
  bytes = buffer_.data() + begin_ + kRecordHeaderLength;
  begin_ += kRecordHeaderLength + captured;
  return Status::Record;
}

}  // namespace vestrel
