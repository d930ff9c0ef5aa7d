#include "capture/capture_file.h"

#include <pcap/pcap.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "stream/console.h"
#include "stream/segment_handler.h"

namespace vestrel {

namespace {

struct CaptureCloser {
  void operator()(pcap_t* capture) const { pcap_close(capture); }
};
using OwnedCapture = std::unique_ptr<pcap_t, CaptureCloser>;

constexpr int kExitFailure = 1;

// Errors go to standard error after everything printed so far, so a
// truncation is reported below the last message it let through.
void reportError(const std::string& subject, const std::string& problem) {
  flushConsole();
  std::fprintf(stderr, "%s: %s: %s\n", kReadProgramName, subject.c_str(), problem.c_str());
}

std::string shownName(const std::string& fileName) { return fileName == "-" ? "standard input" : fileName; }

// Opened by us rather than by name through the library, so a file that
// cannot be opened is reported with its name and the system's reason.
OwnedCapture openCaptureFile(const std::string& fileName, std::string& error, std::optional<FileId>& input) {
  FILE* file = fileName == "-" ? stdin : std::fopen(fileName.c_str(), "rb");
  if (file == nullptr) {
    error = std::strerror(errno);
    return nullptr;
  }
  input = fileIdOf(fileno(file));
  char errorText[PCAP_ERRBUF_SIZE] = "";
  OwnedCapture capture(pcap_fopen_offline(file, errorText));
  if (!capture) {
    // Nothing was written to it, so its close has nothing to report.
    if (file != stdin) static_cast<void>(std::fclose(file));
    error = errorText;
  }
  return capture;  // closing the capture closes the file
}

std::string describeLinkType(int datalink) {
  const char* name = pcap_datalink_val_to_name(datalink);
  const char* description = pcap_datalink_val_to_description(datalink);
  std::string text = name != nullptr ? name : std::to_string(datalink);
  if (description != nullptr) text += std::string(" (") + description + ")";
  return text;
}

bool openLogFile(Options& options, std::optional<FileId> input) {
  if (options.logFileName.empty()) return true;
  OutputFile log = createOutputFile(options.logFileName.c_str(), input);
  options.logFile = std::move(log.file);
  if (options.logFile) return true;
  reportError(options.logFileName,
              log.isInput ? "is the capture file being read; not used as the log" : std::strerror(log.error));
  return false;
}

// Frames are taken in batches so that a reader who has gone (`| head`)
// ends the reading soon, instead of after the whole file.
constexpr int kFramesPerBatch = 1024;

int printEveryFrame(pcap_t* capture, Monitor& monitor) {
  int result = 0;
  while (!consoleReaderGone()) {
    result = pcap_dispatch(capture, kFramesPerBatch, handleSegment, reinterpret_cast<unsigned char*>(&monitor));
    if (result <= 0) break;
  }
  return result;
}

void warnOfCutSegments(const std::string& subject, uint64_t count) {
  if (count == 0) return;
  reportError(subject, "warning: " + std::to_string(count) +
                           " segment(s) of port 6112 were cut short by the capture's snapshot length;"
                           " the messages in them are incomplete");
}

}  // namespace

int readCaptureFile(ReadCommand& command) {
  const std::string subject = shownName(command.fileName);
  std::string error;
  std::optional<FileId> input;
  const OwnedCapture capture = openCaptureFile(command.fileName, error, input);
  if (!capture) {
    reportError(subject, error);
    return kExitFailure;
  }
  const int datalink = pcap_datalink(capture.get());
  const auto linkLayer = linkLayerFor(datalink);
  if (!linkLayer) {
    reportError(subject, "link type " + describeLinkType(datalink) + " is not supported");
    return kExitFailure;
  }
  if (!openLogFile(command.options, input)) return kExitFailure;

  Monitor monitor(command.options);
  monitor.linkLayer = *linkLayer;
  monitor.syncPending = true;
  monitor.flushEachMessage = false;
  const int result = printEveryFrame(capture.get(), monitor);
  // The log is written in large blocks and pushed out once, here.
  flushOutputs(monitor);

  bool ok = finishConsole(kReadProgramName);
  if (result == PCAP_ERROR) {
    reportError(subject, pcap_geterr(capture.get()));
    ok = false;
  }
  warnOfCutSegments(subject, monitor.cutSegments);
  // A log that failed was reported on the console when it failed.
  if (command.options.logFile && monitor.log == nullptr) ok = false;
  return ok ? 0 : kExitFailure;
}

}  // namespace vestrel
