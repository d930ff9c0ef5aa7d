// The frames vestrel-trace saves with -w: one pcap file, standard output,
// or a rotation of files as tcpdump makes them (-C size, -G seconds, -W
// count).
#pragma once

#include <pcap/pcap.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "capture/user_files.h"

namespace vestrel {

struct SaveSettings {
  std::string file;             // -w: a file name, "-" for standard output; empty: nothing saved
  uint64_t fileSizeBytes = 0;   // -C: start a new file before the current one would pass this; 0: never
  int64_t rotateSeconds = 0;    // -G: start a new file every this many seconds (strftime names); 0: never
  uint32_t fileCount = 0;       // -W: a ring of this many files with -C, a limit with -G; 0: none
  bool flushEachFrame = false;  // -U: each frame written out as it is saved
};

// The name of a file of the rotation, as tcpdump makes it: with -G, FILE
// is a strftime(3) format filled with the local time the file's interval
// began; then the file's number, none for the first, or with -W always,
// in as many digits as the ring's last number has (FILE0 ... FILE9 for -W
// 10). Empty when the format makes no name.
std::string savedFileName(const SaveSettings& settings, uint32_t number, time_t intervalStart);

// Saves the frames into the files of the settings, each a whole pcap file
// with its own header.
class FrameSaver {
 public:
  // capture: where the frames come from (link type, snapshot length).
  // input: the capture file being read, never written over.
  FrameSaver(pcap_t* capture, SaveSettings settings, std::optional<FileId> input)
      : capture_(capture), settings_(std::move(settings)), input_(input) {}
  ~FrameSaver();
  FrameSaver(const FrameSaver&) = delete;
  FrameSaver& operator=(const FrameSaver&) = delete;

  // Opens the first file. With -G from a capture file, the first name
  // comes from the first frame's time: that file is opened with it.
  // False after error().
  bool start(bool live);

  // Saves a frame, in a new file first when the size or the time says so.
  // False when saving ends: an error, or the -W limit of -G reached.
  bool save(const pcap_pkthdr& header, const uint8_t* bytes);

  // Pushes out what the current file holds; false after error().
  bool flush();

  // What went wrong, naming the file; empty when nothing did. The -W
  // limit of -G is no error: limitReached() tells it.
  const std::string& error() const { return error_; }
  bool limitReached() const { return limitReached_; }
  // Whether a file could not be made for want of permission.
  bool refusedAccess() const { return createError_ == EACCES || createError_ == EPERM; }
  // The current file and its name, to be told apart from the log.
  FILE* stream() const { return stream_; }
  const std::string& name() const { return name_; }

 private:
  bool open(uint32_t number, time_t intervalStart);
  bool closeCurrent();
  bool fail(const std::string& name, const std::string& reason);
  bool rotateForTime(time_t now);
  bool rotateForSize(size_t recordBytes);

  pcap_t* capture_;
  SaveSettings settings_;
  std::optional<FileId> input_;
  pcap_dumper_t* dumper_ = nullptr;
  FILE* stream_ = nullptr;  // closed with the dumper
  std::string name_;        // the current file's
  uint64_t fileBytes_ = 0;  // written to the current file, its header too
  uint64_t fileFrames_ = 0;
  uint32_t sizeNumber_ = 0;  // of the current file in the -C rotation
  uint32_t timeFiles_ = 0;   // files begun by -G
  time_t intervalStart_ = 0;
  std::string error_;
  bool limitReached_ = false;
  int createError_ = 0;  // errno of a file that could not be made
};

}  // namespace vestrel
