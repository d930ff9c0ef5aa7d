// Every record of a capture file as the capture library reads it and as the
// program's own reader does, in one comparable form, for the tests and the
// fuzz target that hold the two to the same result.
#pragma once

#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "capture/pcap_records.h"

namespace vestrel::test {

struct RecordList {
  bool opened = false;
  std::vector<std::string> records;  // time, lengths and bytes of each
  std::string error;                 // why the reading stopped early
  bool operator==(const RecordList&) const = default;
};

inline void put32(std::string& out, uint32_t value, bool bigEndian) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(value >> (bigEndian ? 24 - 8 * i : 8 * i));
}

// A classic pcap file header (version 2.4, Ethernet) in either byte order;
// magic tells microseconds from nanoseconds.
inline std::string pcapFileHeader(uint32_t magic, bool bigEndian, uint32_t snapshot) {
  std::string out;
  for (const uint32_t field : {magic, bigEndian ? 0x00020004U : 0x00040002U, 0U, 0U, snapshot, 1U}) {
    put32(out, field, bigEndian);
  }
  return out;
}

inline std::string describeRecord(const pcap_pkthdr& header, const uint8_t* bytes) {
  return std::to_string(header.ts.tv_sec) + "." + std::to_string(header.ts.tv_usec) + " " +
         std::to_string(header.caplen) + "/" + std::to_string(header.len) + " " +
         std::string(reinterpret_cast<const char*>(bytes), header.caplen);
}

// The library, through a stream of its own on the same file.
inline pcap_t* openWithLibrary(int descriptor) {
  FILE* file = fdopen(dup(descriptor), "rb");
  if (file == nullptr) return nullptr;
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* capture = pcap_fopen_offline(file, error);
  if (capture == nullptr) static_cast<void>(std::fclose(file));
  return capture;
}

inline RecordList recordsByLibrary(int descriptor) {
  RecordList list;
  lseek(descriptor, 0, SEEK_SET);
  pcap_t* capture = openWithLibrary(descriptor);
  if (capture == nullptr) return list;
  list.opened = true;
  pcap_pkthdr* header = nullptr;
  const u_char* bytes = nullptr;
  int status = 0;
  while ((status = pcap_next_ex(capture, &header, &bytes)) == 1) list.records.push_back(describeRecord(*header, bytes));
  if (status == PCAP_ERROR) list.error = pcap_geterr(capture);
  pcap_close(capture);
  return list;
}

// As the program reads a file: its format seen first, the library opening
// it for the snapshot length, the reader taking over.
inline RecordList recordsByReader(int descriptor) {
  RecordList list;
  lseek(descriptor, 0, SEEK_SET);
  const auto start = findClassicPcap(descriptor);
  pcap_t* capture = openWithLibrary(descriptor);
  if (capture == nullptr || !start) {
    if (capture != nullptr) pcap_close(capture);
    return list;
  }
  list.opened = true;
  PcapRecordReader reader(descriptor, *start, pcap_snapshot(capture));
  pcap_close(capture);
  pcap_pkthdr header{};
  const uint8_t* bytes = nullptr;
  PcapRecordReader::Status status{};
  while ((status = reader.next(header, bytes)) == PcapRecordReader::Status::Record) {
    list.records.push_back(describeRecord(header, bytes));
  }
  if (status == PcapRecordReader::Status::Error) list.error = reader.error();
  return list;
}

}  // namespace vestrel::test
