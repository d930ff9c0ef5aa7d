#include "capture/trace.h"

#include <pcap/pcap.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>

#include "capture/capture_filter.h"
#include "capture/devices.h"
#include "capture/live_device.h"
#include "capture/pcap_records.h"
#include "capture/privileges.h"
#include "capture/saved_frames.h"
#include "capture/user_files.h"
#include "decode/output_forms.h"
#include "output/console.h"
#include "stream/connection_tracker.h"
#include "stream/segment_handler.h"

namespace vestrel {

namespace {

constexpr int kFailure = 1;

// Errors come after everything printed so far, so a file cut short is
// reported below the last message it let through.
void sayError(const std::string& text) {
  flushConsole();
  static_cast<void>(std::fprintf(stderr, "%s: %s\n", kTraceProgramName, consoleSafe(text)));
}

std::string describeLinkType(int datalink) {
  const char* name = pcap_datalink_val_to_name(datalink);
  const char* description = pcap_datalink_val_to_description(datalink);
  std::string text = name != nullptr ? name : std::to_string(datalink);
  if (description != nullptr) text += std::string(" (") + description + ")";
  return text;
}

struct Source {
  OwnedCapture capture;
  // A classic pcap file's records, read by the program itself (the library
  // reads everything else); then the filter is applied here, too.
  std::unique_ptr<PcapRecordReader> records;
  FrameFilter filter;
  std::string name;             // as the messages show it
  std::optional<FileId> input;  // the capture file, not to be overwritten
  bool live = false;
};

// Opened by us rather than by name through the library, so a file that
// cannot be opened is reported with its name and the system's reason.
bool openFileSource(const std::string& fileName, Source& source) {
  source.name = fileName == "-" ? "standard input" : fileName;
  FILE* file = fileName == "-" ? stdin : std::fopen(fileName.c_str(), "rb");
  if (file == nullptr) {
    sayError(source.name + ": " + std::strerror(errno));
    return false;
  }
  source.input = fileIdOf(fileno(file));
  // The library reads record by record: a large buffer makes that a few
  // large reads of the file. Without it the reading is only slower.
  constexpr size_t kReadBufferBytes = 1 << 20;
  static_cast<void>(std::setvbuf(file, nullptr, _IOFBF, kReadBufferBytes));
  // Two reads a record, each taking the stream's lock: one thread reads it.
  static_cast<void>(__fsetlocking(file, FSETLOCKING_BYCALLER));
  // Before the library, which reads on past the file's header.
  const auto classicStart = findClassicPcap(fileno(file));
  char errorText[PCAP_ERRBUF_SIZE] = "";
  source.capture.reset(pcap_fopen_offline(file, errorText));
  if (source.capture) {  // closing the capture closes the file
    if (classicStart) {
      source.records =
          std::make_unique<PcapRecordReader>(fileno(file), *classicStart, pcap_snapshot(source.capture.get()));
    }
    return true;
  }
  if (file != stdin) static_cast<void>(std::fclose(file));
  sayError(source.name + ": " + errorText);
  return false;
}

// A device's state as tcpdump -D words it: "Up, Running, Loopback",
// "Wireless, Associated", "none" when no flag is set but its connection's.
std::string deviceStateText(bpf_u_int32 flags) {
  static constexpr std::pair<bpf_u_int32, const char*> kStates[] = {
      {PCAP_IF_UP, "Up"}, {PCAP_IF_RUNNING, "Running"}, {PCAP_IF_LOOPBACK, "Loopback"}, {PCAP_IF_WIRELESS, "Wireless"}};
  std::string text;
  for (const auto& [flag, name] : kStates) {
    if ((flags & flag) != 0) text += std::string(text.empty() ? "" : ", ") + name;
  }
  if (text.empty()) text = "none";
  const bool wireless = (flags & PCAP_IF_WIRELESS) != 0;
  switch (flags & PCAP_IF_CONNECTION_STATUS) {
    case PCAP_IF_CONNECTION_STATUS_UNKNOWN:
      return text + (wireless ? ", Association status unknown" : ", Connection status unknown");
    case PCAP_IF_CONNECTION_STATUS_CONNECTED: return text + (wireless ? ", Associated" : ", Connected");
    case PCAP_IF_CONNECTION_STATUS_DISCONNECTED: return text + (wireless ? ", Not associated" : ", Disconnected");
    default: return text;
  }
}

bool isNumber(const std::string& text) {
  return !text.empty() && text.size() < 10 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The device's name: as given, the one a number picks from the list -D
// prints, or the first one listed.
std::optional<std::string> deviceName(const std::string& wanted) {
  if (!wanted.empty() && !isNumber(wanted)) return wanted;
  const DeviceList devices;
  if (!devices.ok()) {
    sayError("cannot list the capture devices: " + devices.error());
    return std::nullopt;
  }
  const size_t position = wanted.empty() ? 0 : std::stoul(wanted) - 1;
  const pcap_if* device = wanted == "0" ? nullptr : devices.at(position);
  if (device != nullptr) return std::string(device->name);
  if (wanted.empty()) {
    sayError("no capture device found (run as root, or see -D)");
  } else {
    sayError("no device number " + wanted + " (" + std::to_string(devices.size()) + " listed by -D)");
  }
  return std::nullopt;
}

// The program's own file, as a command the user can paste names it:
// setcap needs the file itself, not a link to it. Quoted for the shell
// when it holds anything but the usual characters of a path.
std::string runningProgram() {
  std::error_code error;
  std::string path = std::filesystem::read_symlink("/proc/self/exe", error).string();
  if (error || path.empty()) return kTraceProgramName;
  constexpr std::string_view kPlain = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._+-";
  if (path.find_first_not_of(kPlain) == std::string::npos) return path;
  std::string quoted = "'";
  for (const char character : path) quoted += character == '\'' ? std::string("'\\''") : std::string(1, character);
  return quoted + "'";
}

bool openLiveSource(const TraceSettings& settings, Source& source) {
  const auto name = deviceName(settings.device);
  if (!name) return false;
  source.name = *name;
  source.live = true;
  std::string error;
  bool permissionDenied = false;
  source.capture = openLiveDevice(name->c_str(), error, &permissionDenied, settings.live);
  if (source.capture) return true;
  sayError(error);
  if (permissionDenied) {
    sayError(
        "capturing needs root, or the capture capabilities given once to the program: "
        "sudo setcap cap_net_raw,cap_net_admin+ep " +
        runningProgram());
  }
  return false;
}

// The chat ports' frames, and of them those the user's expression takes.
// Without the user's expression, a filter the kernel refuses only costs
// speed: say so and go on. A file read whole needs none: the library would
// run it on every frame only to tell what the ports tell anyway, unless
// there is an expression, or frames to save.
bool installTraceFilter(const TraceSettings& settings, Source& source) {
  if (!source.live && settings.filterExpression.empty() && settings.save.file.empty()) return true;
  const std::string expression =
      chatPortsFilter(pcap_datalink(source.capture.get()), settings.ports, settings.filterExpression);
  const std::string problem =
      installFilter(source.capture.get(), expression, source.records ? &source.filter : nullptr);
  if (problem.empty()) return true;
  if (!settings.filterExpression.empty()) {
    sayError(problem);  // the library's words: "can't parse filter expression: ..."
    return false;
  }
  sayError("cannot install the capture filter (" + problem + "); taking every frame");
  return true;
}

// Files the user names are created with the user's identity, never over
// the capture being read.
OwnedFile createUserFile(const std::string& name, const Source& source) {
  OutputFile file = createOutputFile(name.c_str(), source.input);
  if (!file.file) {
    sayError(name + ": " + (file.isInput ? "is the capture file being read; not written" : std::strerror(file.error)));
  }
  return std::move(file.file);
}

// The frames and the log written into one file would make a capture no
// reader can read.
bool sameRegularFile(FILE* one, FILE* other) {
  struct stat first {};
  struct stat second {};
  return fstat(fileno(one), &first) == 0 && fstat(fileno(other), &second) == 0 && S_ISREG(first.st_mode) &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

struct TraceRun {
  pcap_t* capture = nullptr;
  PcapRecordReader* records = nullptr;  // when the program reads the file itself
  const FrameFilter* filter = nullptr;
  FrameSaver* saver = nullptr;           // -w
  Monitor* shared = nullptr;             // --single-stream
  ConnectionTracker* tracker = nullptr;  // otherwise
  MessagePrinter* printer = nullptr;
  uint64_t frames = 0;        // that passed the filter
  bool saverStopped = false;  // an error, or -G's file limit
};

// NOLINTNEXTLINE(readability-non-const-parameter): the library's callback type
void handleTraceFrame(unsigned char* user, const pcap_pkthdr* header, const unsigned char* bytes) {
  TraceRun& run = *reinterpret_cast<TraceRun*>(user);
  if (run.saver != nullptr && !run.saver->save(*header, bytes)) {
    run.saverStopped = true;
    pcap_breakloop(run.capture);
    return;
  }
  ++run.frames;
  const std::span<const uint8_t> frame(bytes, header->caplen);
  if (run.shared != nullptr) {
    run.printer->setFrameTime(header->ts);
    handleSegment(*run.shared, frame);
  } else {
    run.tracker->handleFrame(header->ts, frame);
  }
  if (run.printer->limitReached()) pcap_breakloop(run.capture);
}

// A file is read in batches, so that a reader who has gone (`| head`) ends
// the reading soon; live, every batch the kernel hands over is pushed out
// at once, so each message is seen as soon as the program has caught up.
int traceEveryFrame(TraceRun& run, bool live) {
  constexpr int kFramesPerFileBatch = 1024;
  int result = 0;
  while (!consoleReaderGone() && !run.printer->limitReached() && !run.saverStopped) {
    result = pcap_dispatch(run.capture, live ? -1 : kFramesPerFileBatch, handleTraceFrame,
                           reinterpret_cast<unsigned char*>(&run));
    // Ctrl-C while a pipe is read interrupts the read: an end, not an error.
    if (stopSignalReceived()) return 0;
    if (live) {
      run.printer->flush();
      if (run.saver != nullptr && !run.saver->flush()) run.saverStopped = true;
    }
    if (result < 0 || (result == 0 && !live)) break;
  }
  return result;
}

// The records of a file the program reads itself, through the same
// filter; the same statuses as the library's loop.
int traceEveryRecord(TraceRun& run) {
  pcap_pkthdr header{};
  const uint8_t* bytes = nullptr;
  while (!consoleReaderGone() && !run.printer->limitReached() && !run.saverStopped && !stopSignalReceived()) {
    const auto status = run.records->next(header, bytes);
    if (status == PcapRecordReader::Status::End) break;
    if (status == PcapRecordReader::Status::Error) return stopSignalReceived() ? 0 : PCAP_ERROR;
    if (run.filter->passes(header, bytes)) handleTraceFrame(reinterpret_cast<unsigned char*>(&run), &header, bytes);
  }
  return 0;
}

// --stats after the messages, on the console; with -w - it carries the
// frames, and the table goes to standard error.
void printStats(const MessageStats& stats, DecoderSet names, const PrintSettings& print) {
  if (!print.show) {
    flushConsole();
    setConsole(stderr);
  }
  stats.print(names, print.json);
  flushConsole();
}

std::string readError(const Source& source) {
  return source.records ? source.records->error() : pcap_geterr(source.capture.get());
}

std::string counted(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// What a reader of the stream cannot tell from the counts at the end.
void warnOfDamage(const std::string& sourceName, const TrackerCounts& counts, uint64_t sharedCutSegments) {
  if (counts.notDeliveredBytes != 0) {
    sayError(std::to_string(counts.notDeliveredBytes) +
             " bytes not delivered: outside the receiver's window, after a FIN, or on or after an RST");
  }
  if (counts.ignoredControls != 0) {
    sayError(std::to_string(counts.ignoredControls) +
             " SYN, FIN or RST segment(s) ignored, as the receiving end would have ignored them");
  }
  const uint64_t cut = counts.cutSegments + sharedCutSegments;
  if (cut != 0) {
    sayError(sourceName + ": warning: " + std::to_string(cut) +
             " segment(s) of the chat ports were cut short by the capture's snapshot length;"
             " the messages in them are incomplete");
  }
  if (counts.forgotten != 0) {
    sayError(std::to_string(counts.forgotten) + " connection(s) forgotten while still open: too many at once");
  }
}

// The end of every run, on standard error: tcpdump's counts, those of the
// kernel only for a live capture, then what the messages and the
// connections came to.
void reportRun(const TraceRun& run, const Source& source, const TrackerCounts& counts, bool singleStream) {
  std::string report = counted(run.frames, "packet", "packets") + " captured\n";
  pcap_stat kernel{};
  if (source.live && pcap_stats(source.capture.get(), &kernel) == 0) {
    report += counted(kernel.ps_recv, "packet", "packets") + " received by filter\n" +
              counted(kernel.ps_drop, "packet", "packets") + " dropped by kernel\n";
    if (kernel.ps_ifdrop != 0) report += counted(kernel.ps_ifdrop, "packet", "packets") + " dropped by interface\n";
  }
  report += counted(run.printer->printed(), "message", "messages") + " shown\n";
  if (!singleStream) {
    report += counted(counts.connections, "connection", "connections") + "\n" +
              counted(counts.lostBytes, "byte", "bytes") + " lost in " + counted(counts.losses, "gap", "gaps") + "\n" +
              counted(counts.skippedBytes, "byte", "bytes") + " skipped looking for a message header\n" +
              counted(counts.incompleteBytes, "byte", "bytes") + " left incomplete in " +
              counted(counts.incompleteMessages, "message", "messages") + "\n";
  }
  static_cast<void>(std::fputs(report.c_str(), stderr));
}

// The user the program runs as now, by name when it has one.
std::string currentUserName() {
  const auto user = processPrivileges().userWithId(geteuid());
  return user ? user->name : "user " + std::to_string(geteuid());
}

bool openSource(const TraceSettings& settings, Source& source) {
  return settings.readFile.empty() ? openLiveSource(settings, source) : openFileSource(settings.readFile, source);
}

bool startSaving(FrameSaver& saver, const Source& source, const OutputSettings& output) {
  if (!saver.start(source.live)) {
    sayError(saver.error());
    return false;
  }
  if (output.logFile && saver.stream() != nullptr && sameRegularFile(saver.stream(), output.logFile.get())) {
    sayError(saver.name() + ": is the log file (--log) as well; -w needs a file of its own");
    return false;
  }
  return true;
}

// The last frames out; what stopped the saving, said.
bool finishSaving(FrameSaver& saver, const SaveSettings& settings) {
  const bool written = saver.flush();
  if (!written) sayError(saver.error());
  if (saver.limitReached()) sayError("Maximum file limit reached: " + std::to_string(settings.fileCount));
  return written;
}

}  // namespace

int runTrace(TraceSettings& settings) {
  Source source;
  if (!openSource(settings, source)) return kFailure;
  const int datalink = pcap_datalink(source.capture.get());
  const auto linkLayer = linkLayerForAnyIp(datalink);
  if (!linkLayer) {
    sayError(source.name + ": link type " + describeLinkType(datalink) + " is not supported");
    return kFailure;
  }
  if (!installTraceFilter(settings, source)) return kFailure;
  OutputSettings& output = settings.output;
  // Each connection on its own is decoded whole, its texts never
  // shortened; the shared stream as the classic monitor shows it.
  output.decoders = settings.singleStream ? DecoderSet::Classic : DecoderSet::Full;
  if (!settings.singleStream) output.fullStrings = true;
  if (!output.logFileName.empty()) {
    output.logFile = createUserFile(output.logFileName, source);
    if (!output.logFile) return kFailure;
  }
  std::optional<FrameSaver> saver;
  if (!settings.save.file.empty()) saver.emplace(source.capture.get(), settings.save, source.input);
  // As tcpdump's, rotated files are all made by the user the program runs
  // as once it has given up root: a file of the ring made as root could
  // not be made anew.
  const bool rotates = settings.save.fileSizeBytes != 0 || settings.save.rotateSeconds != 0;
  if (saver && !rotates && !startSaving(*saver, source, output)) return kFailure;
  // Everything that needs privileges is open; what follows parses bytes
  // anyone on the network can send.
  if (!giveUpPrivilegesOrSay(processPrivileges(), stderr, kTraceProgramName, settings.dropUser)) return kFailure;
  if (saver && rotates && !startSaving(*saver, source, output)) {
    if (saver->refusedAccess()) {
      sayError("the files of -C and -G are made as " + currentUserName() +
               ", whom the capture runs as; -Z USER names another");
    }
    return kFailure;
  }
  if (source.live) {
    static_cast<void>(std::fprintf(stderr, "%s: listening on %s, link-type %s\n", kTraceProgramName,
                                   consoleSafe(source.name), describeLinkType(datalink).c_str()));
  }

  Monitor shared(output, settings.print);
  shared.linkLayer = *linkLayer;
  shared.ports = settings.ports;
  MessagePrinter printer(output, settings.print);
  ConnectionTracker tracker(printer, settings.ports, {.totalHeldMemory = settings.heldMemory});
  tracker.linkLayer = *linkLayer;
  TraceRun run{.capture = source.capture.get(),
               .records = source.records.get(),
               .filter = &source.filter,
               .saver = saver ? &*saver : nullptr,
               .shared = settings.singleStream ? &shared : nullptr,
               .tracker = settings.singleStream ? nullptr : &tracker,
               .printer = settings.singleStream ? &shared.printer : &printer};
  run.printer->flushEachMessage = settings.lineBuffered;
  run.printer->setLimit(settings.count);
  MessageStats stats;
  if (settings.stats) run.printer->stats = &stats;

  stopOnSignals(source.capture.get());
  const int result = run.records != nullptr ? traceEveryRecord(run) : traceEveryFrame(run, source.live);
  stopOnSignals(nullptr);
  tracker.finish();
  run.printer->flush();

  if (settings.stats) printStats(stats, output.decoders, settings.print);

  bool ok = finishConsole(kTraceProgramName);
  if (result == PCAP_ERROR) {
    sayError(source.name + ": " + readError(source));
    ok = false;
  }
  if (saver && !finishSaving(*saver, settings.save)) ok = false;
  warnOfDamage(source.name, tracker.counts(), shared.cutSegments);
  reportRun(run, source, tracker.counts(), settings.singleStream);
  // A log that failed was reported on the console when it failed.
  if (output.logFile && run.printer->log == nullptr) ok = false;
  return ok ? 0 : kFailure;
}

int listTraceDevices() {
  const DeviceList devices;
  if (!devices.ok()) {
    sayError("cannot list the capture devices: " + devices.error());
    return kFailure;
  }
  int number = 1;
  for (const pcap_if* device = devices.at(0); device != nullptr; device = device->next) {
    consolePrint("%d.%s", number++, consoleSafe(device->name));
    if (device->description != nullptr) consolePrint(" (%s)", consoleSafe(device->description));
    if (device->flags != 0) consolePrint(" [%s]", deviceStateText(device->flags).c_str());
    consolePrint("\n");
  }
  return finishConsole(kTraceProgramName) ? 0 : kFailure;
}

}  // namespace vestrel
