// The records of a classic pcap file (the version 2.4 format every tool
// writes), read in large blocks and handed over in place. The library's own
// reader makes two calls and two copies a record, which on a capture of a
// million messages was a third of the program's time. Anything else
// (pcapng, older versions) is left to the library.
#pragma once

#include <pcap/pcap.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vestrel {

struct PcapFileFormat {
  bool swapped = false;      // written in the other byte order
  bool nanoseconds = false;  // time stamps in nanoseconds, handed over in microseconds
};

inline constexpr size_t kPcapFileHeaderLength = 24;

// The format of the file these 24 bytes begin, or nothing when it is not a
// classic pcap file of version 2.4.
std::optional<PcapFileFormat> classicPcapFormat(std::span<const uint8_t, kPcapFileHeaderLength> header);

// Where the records of the classic pcap file open as descriptor begin, and
// its format; nothing when the file is something else or cannot be read
// without moving on (a pipe). Looked at before the library opens the file,
// as the library reads on in large blocks.
struct ClassicPcapStart {
  PcapFileFormat format;
  off_t recordsOffset = 0;
};
std::optional<ClassicPcapStart> findClassicPcap(int descriptor);

// Reads the records that follow the file header, with the library's rules
// and its words for what is wrong: a record longer than the library takes
// for these link types, or longer than the file's snapshot length (then cut
// to it), a file ending within a record, a failed read.
class PcapRecordReader {
 public:
  // Reads from start on (the descriptor is moved there); snapshot is the
  // length the library settled on for the file (pcap_snapshot).
  PcapRecordReader(int descriptor, const ClassicPcapStart& start, int snapshot);

  enum class Status { Record, End, Error };
  // The next record: its header, and its bytes, valid until the next call.
  Status next(pcap_pkthdr& header, const uint8_t*& bytes);
  const std::string& error() const { return error_; }

 private:
  // At least count bytes from the cursor in the buffer, reading more as
  // needed; fewer only at the end of the file or after a failed read.
  size_t available(size_t count) { return end_ - begin_ >= count ? count : refill(count); }
  size_t refill(size_t count);
  uint32_t field(size_t offset) const;
  int64_t timeField(size_t offset) const;
  Status fail(std::string text);
  // The system's reason, in the library's words.
  void noteReadFailure();

  int descriptor_;
  PcapFileFormat format_;
  uint32_t snapshot_;
  std::vector<uint8_t> buffer_;
  size_t begin_ = 0;  // the next record
  size_t end_ = 0;    // the end of what was read
  bool readFailed_ = false;
  std::string error_;
};

}  // namespace vestrel
