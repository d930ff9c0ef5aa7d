#include "capture/capture.h"

#include <pcap/pcap.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "capture/capture_filter.h"
#include "capture/devices.h"
#include "capture/privileges.h"
#include "decode/output_forms.h"
#include "stream/console.h"
#include "stream/segment_handler.h"

namespace vestrel {

namespace {

// Whole frames, always: a sender's segmentation offload hands the capture
// datagrams of up to 65535 bytes, 65549 with their Ethernet header, so a
// limit of 65536 would cut the end off the largest and leave a hole in the
// stream. This is the capture library's own largest default.
constexpr int kSnapshotLength = 262144;
// The kernel packs frames one after another into blocks of its ring and
// hands a block over when it is full or at the latest this many
// milliseconds after it was opened: no message waits longer than that to be
// printed, which nobody reading a console can notice. Packed blocks hold
// frames by their real size. The ring of fixed slots that immediate mode
// uses instead sizes every slot for the largest frame a device with
// segmentation offload can deliver (128 KB a slot on lo), so 64 MB held only
// about 1000 frames, some 340 one-message segments on lo (which holds every
// frame twice): a stall of a few milliseconds at 50,000 segments a second
// overflowed it and frames were lost. Packed, 32 MB held some 56,000 frames
// of a flood on lo while the program was stopped, and no flood rate tried
// on lo lost a frame.
constexpr int kBlockTimeoutMs = 5;
// The kernel ring holds frames while we print; whatever comes while it is
// full is lost (and reported when the capture ends).
constexpr int kCaptureBufferBytes = 32 << 20;

struct CaptureCloser {
  void operator()(pcap_t* capture) const { pcap_close(capture); }
};
using OwnedCapture = std::unique_ptr<pcap_t, CaptureCloser>;

// The capture the signal handler stops; set only while the loop runs.
pcap_t* volatile activeCapture = nullptr;

extern "C" void stopCapture(int /*signal*/) {
  if (activeCapture != nullptr) pcap_breakloop(activeCapture);
}

void installStopHandlers() {
  struct sigaction action {};
  action.sa_handler = stopCapture;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// Opens the device without promiscuous mode, with blocks handed over after
// at most kBlockTimeoutMs.
OwnedCapture openDevice(const char* name, std::string& error) {
  char errorText[PCAP_ERRBUF_SIZE] = "";
  OwnedCapture capture(pcap_create(name, errorText));
  if (!capture) {
    error = errorText;
    return nullptr;
  }
  pcap_set_snaplen(capture.get(), kSnapshotLength);
  pcap_set_promisc(capture.get(), 0);
  pcap_set_timeout(capture.get(), kBlockTimeoutMs);
  pcap_set_buffer_size(capture.get(), kCaptureBufferBytes);
  const int status = pcap_activate(capture.get());
  if (status >= 0) return capture;  // warnings don't stop the capture

  // Worded as the library words its own open failures: "device: reason".
  error = std::string(name) + ": ";
  if (status == PCAP_ERROR) {
    error += pcap_geterr(capture.get());
  } else if (status == PCAP_ERROR_NO_SUCH_DEVICE || status == PCAP_ERROR_PERM_DENIED ||
             status == PCAP_ERROR_PROMISC_PERM_DENIED) {
    error += std::string(pcap_statustostr(status)) + " (" + pcap_geterr(capture.get()) + ")";
  } else {
    error += pcap_statustostr(status);
  }
  return nullptr;
}

// Frames the kernel threw away because the ring was full when they came:
// any one of them can hold a message, or the middle of one, so the user
// must know the output is not the whole stream. Silent when none were lost.
void reportKernelDrops(pcap_t* capture) {
  pcap_stat counts{};
  if (pcap_stats(capture, &counts) != 0) return;
  const uint64_t dropped = counts.ps_drop;
  const uint64_t interfaceDropped = counts.ps_ifdrop;
  if (dropped == 0 && interfaceDropped == 0) return;
  std::string interfacePart;
  if (interfaceDropped != 0) interfacePart = " and " + std::to_string(interfaceDropped) + " by the interface";
  // Nothing more can be done if standard error itself fails.
  static_cast<void>(
      std::fprintf(stderr,
                   "vestrel: %llu frames dropped by the kernel%s (of %llu received); messages may be missing and the "
                   "stream out of step\n",
                   static_cast<unsigned long long>(dropped), interfacePart.c_str(),
                   static_cast<unsigned long long>(counts.ps_recv)));
}

// Takes every frame the ring holds and prints their messages, then pushes
// the text out before waiting for more. Every message is out as soon as the
// program has caught up, as if each were flushed alone; but when frames come
// faster than one write a message allows, one write carries a whole batch,
// which lets the program catch up instead of falling further behind.
void printUntilStopped(pcap_t* capture, Monitor& monitor) {
  for (;;) {
    const int taken = pcap_dispatch(capture, -1, handleSegment, reinterpret_cast<unsigned char*>(&monitor));
    // Output that cannot be written does not stop the capture, unless
    // nobody reads it any more (`| head`).
    flushOutputs(monitor);
    if (taken < 0 || consoleReaderGone()) return;  // stopped by a signal, or the device failed
  }
}

// Only the chat port's frames enter the ring. Without the filter the
// capture still works, only the ring fills sooner: say so and go on.
void keepOnlyChatFrames(pcap_t* capture) {
  const std::string problem = installFilter(capture, chatPortFilter(pcap_datalink(capture), kBncsPort));
  if (problem.empty()) return;
  static_cast<void>(
      std::fprintf(stderr, "vestrel: cannot install the capture filter (%s); taking every frame\n", problem.c_str()));
}

}  // namespace

int runCapture(Options& options) {
  DeviceList devices;
  if (!devices.ok()) {
    consolePrint("Error obtaining device list: %s\n", consoleSafe(devices.error()));
    return 0;
  }
  if (devices.size() == 0) {
    consolePrint("No interfaces found - make sure WinPcap is installed.\n");
    return 0;
  }
  const auto position = chooseDevice(options.deviceNumber, devices.size());
  if (!position) {
    consolePrint("Invalid device number specified. Please choose from the following list:\n\n");
    printDeviceList();
    return 0;
  }
  const pcap_if& device = *devices.at(*position);
  std::string error;
  const OwnedCapture capture = openDevice(device.name, error);
  if (!capture) {
    // The library's text names the device, which may hold any byte.
    consolePrint("Unable to open the interface: %s\n", consoleSafe(error));
    return 0;
  }
  keepOnlyChatFrames(capture.get());
  // Everything that needs privileges is open (the log file since the option
  // scan); what follows parses bytes anyone on the network can send.
  if (!giveUpPrivilegesOrSay(processPrivileges(), stderr)) return 1;
  consolePrint("Monitoring '%s' for BNCS traffic...\n", displayName(device));
  flushConsole();
  devices.release();

  Monitor monitor(options);
  monitor.syncPending = true;
  // A device of a link type we cannot read is read as Ethernet, as always.
  monitor.linkLayer = linkLayerFor(pcap_datalink(capture.get())).value_or(LinkLayer::Ethernet);
  activeCapture = capture.get();
  installStopHandlers();
  // The batch is flushed as a whole: see printUntilStopped.
  monitor.flushEachMessage = false;
  printUntilStopped(capture.get(), monitor);
  activeCapture = nullptr;
  // Below every message printed, so it reads as the run's last word.
  reportKernelDrops(capture.get());
  return 0;
}

}  // namespace vestrel
