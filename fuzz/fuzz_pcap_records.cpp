// A classic pcap file made of the input: its first byte picks the header
// (byte order, time stamp unit, snapshot length), the rest are the records.
// The program's own reader must hand over exactly the records, and stop
// with exactly the error, that the capture library does.
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/pcap_record_list.h"
#include "output_check.h"

namespace vestrel::fuzz {

namespace {

constexpr std::array<uint32_t, 8> kSnapshots{65535, 50, 0, 262144, 10'000'000, 0x80000000, 1, 100'000};

std::string captureFile(uint8_t settings, const uint8_t* records, size_t size) {
  const bool bigEndian = (settings & 1) != 0;
  const bool nanoseconds = (settings & 2) != 0;
  const uint32_t snapshot = kSnapshots[(settings >> 2) % kSnapshots.size()];
  return test::pcapFileHeader(nanoseconds ? 0xA1B23C4D : 0xA1B2C3D4, bigEndian, snapshot) +
         std::string(reinterpret_cast<const char*>(records), size);
}

}  // namespace

}  // namespace vestrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vestrel;
  if (size == 0) return 0;
  const std::string file = fuzz::captureFile(data[0], data + 1, size - 1);
  const int descriptor = memfd_create("capture", 0);
  if (descriptor < 0) fuzz::fail("no memory file");
  if (write(descriptor, file.data(), file.size()) != static_cast<ssize_t>(file.size())) fuzz::fail("short write");
  const test::RecordList expected = test::recordsByLibrary(descriptor);
  const test::RecordList read = test::recordsByReader(descriptor);
  close(descriptor);
  if (!(read == expected)) fuzz::fail("the reader and the capture library read the file differently");
  return 0;
}
