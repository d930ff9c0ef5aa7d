#include "capture/saved_frames.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace vestrel {

namespace {

// What pcap adds to a file: its header, then a header per record.
constexpr uint64_t kFileHeaderBytes = 24;
constexpr uint64_t kRecordHeaderBytes = 16;

// tcpdump's width for -W files: the digits of the ring's last number.
int ringDigits(uint32_t fileCount) {
  int digits = 0;
  for (uint32_t last = fileCount > 0 ? fileCount - 1 : 0; last > 0; last /= 10) ++digits;
  return digits;
}

std::string localTimeName(const std::string& format, time_t time) {
  tm local{};
  if (localtime_r(&time, &local) == nullptr) return {};
  std::array<char, 4096> name{};
  const size_t length = std::strftime(name.data(), name.size(), format.c_str(), &local);
  return {name.data(), length};
}

}  // namespace

std::string savedFileName(const SaveSettings& settings, uint32_t number, time_t intervalStart) {
  std::string name = settings.rotateSeconds != 0 ? localTimeName(settings.file, intervalStart) : settings.file;
  if (name.empty()) return name;
  const int digits = settings.fileCount != 0 && settings.fileSizeBytes != 0 ? ringDigits(settings.fileCount) : 0;
  if (number == 0 && digits == 0) return name;
  const std::string text = std::to_string(number);
  return name + std::string(static_cast<size_t>(std::max(0, digits - static_cast<int>(text.size()))), '0') + text;
}

FrameSaver::~FrameSaver() {
  if (dumper_ != nullptr) pcap_dump_close(dumper_);
}

bool FrameSaver::fail(const std::string& name, const std::string& reason) {
  error_ = name + ": " + reason;
  return false;
}

bool FrameSaver::start(bool live) {
  if (settings_.file == "-") {
    dumper_ = pcap_dump_fopen(capture_, stdout);
    stream_ = stdout;
    name_ = "standard output";
    return dumper_ != nullptr || fail("standard output", pcap_geterr(capture_));
  }
  // Live, the first interval begins now, as tcpdump's; a file's first
  // frame tells when its capture began.
  if (settings_.rotateSeconds != 0 && !live) return true;
  if (settings_.rotateSeconds != 0) timeFiles_ = 1;
  return open(0, std::time(nullptr));
}

bool FrameSaver::open(uint32_t number, time_t intervalStart) {
  name_ = savedFileName(settings_, number, intervalStart);
  if (name_.empty()) return fail(settings_.file, "makes an empty file name");
  OutputFile file = createOutputFile(name_.c_str(), input_);
  if (!file.file) {
    createError_ = file.error;
    return fail(name_, file.isInput ? "is the capture file being read; not written" : std::strerror(file.error));
  }
  dumper_ = pcap_dump_fopen(capture_, file.file.get());
  if (dumper_ == nullptr) return fail(name_, pcap_geterr(capture_));
  stream_ = file.file.release();
  sizeNumber_ = number;
  intervalStart_ = intervalStart;
  fileBytes_ = kFileHeaderBytes;
  fileFrames_ = 0;
  return true;
}

bool FrameSaver::closeCurrent() {
  if (dumper_ == nullptr) return true;
  const bool written = flush();
  pcap_dump_close(dumper_);
  dumper_ = nullptr;
  stream_ = nullptr;
  return written;
}

// tcpdump's -G: a new file with the first frame an interval after the
// current one began; with -W alone, no more than that many files.
bool FrameSaver::rotateForTime(time_t now) {
  if (dumper_ != nullptr && now - intervalStart_ < settings_.rotateSeconds) return true;
  if (!closeCurrent()) return false;
  if (settings_.fileSizeBytes == 0 && settings_.fileCount != 0 && timeFiles_ >= settings_.fileCount) {
    limitReached_ = true;
    return false;
  }
  ++timeFiles_;
  return open(0, now);
}

// -C: a new file before this record would carry the current one past the
// size; a record larger than the size still gets a file of its own. With
// -W, the numbers go round the ring.
bool FrameSaver::rotateForSize(size_t recordBytes) {
  if (fileFrames_ == 0 || fileBytes_ + recordBytes <= settings_.fileSizeBytes) return true;
  if (!closeCurrent()) return false;
  uint32_t next = sizeNumber_ + 1;
  if (settings_.fileCount != 0 && next >= settings_.fileCount) next = 0;
  return open(next, intervalStart_);
}

bool FrameSaver::save(const pcap_pkthdr& header, const uint8_t* bytes) {
  if (!error_.empty() || limitReached_) return false;
  const uint64_t recordBytes = kRecordHeaderBytes + header.caplen;
  if (settings_.rotateSeconds != 0 && !rotateForTime(header.ts.tv_sec)) return false;
  if (settings_.fileSizeBytes != 0 && !rotateForSize(recordBytes)) return false;
  pcap_dump(reinterpret_cast<unsigned char*>(dumper_), &header, bytes);
  fileBytes_ += recordBytes;
  ++fileFrames_;
  return !settings_.flushEachFrame || flush();
}

bool FrameSaver::flush() {
  if (dumper_ == nullptr || !error_.empty()) return error_.empty();
  if (pcap_dump_flush(dumper_) == 0 && std::ferror(stream_) == 0) return true;
  return fail(name_, std::strerror(errno));
}

}  // namespace vestrel
