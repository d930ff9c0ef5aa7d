#include "capture/live_device.h"

#include <pcap/pcap.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vestrel {

namespace {

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

// The capture the signal handler stops; set only while the loop runs.
pcap_t* volatile activeCapture = nullptr;

// Set by the same signals, for loops that read frames without the library.
volatile sig_atomic_t stopSignalled = 0;

extern "C" void stopCapture(int /*signal*/) {
  stopSignalled = 1;
  if (activeCapture != nullptr) pcap_breakloop(activeCapture);
}

void installStopHandlers() {
  struct sigaction action {};
  action.sa_handler = stopCapture;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

void stopOnSignals(pcap_t* capture) {
  stopSignalled = 0;
  activeCapture = capture;
  if (capture != nullptr) installStopHandlers();
}

bool stopSignalReceived() { return stopSignalled != 0; }

OwnedCapture openLiveDevice(const char* name, std::string& error, bool* permissionDenied,
                            const LiveSettings& settings) {
  char errorText[PCAP_ERRBUF_SIZE] = "";
  OwnedCapture capture(pcap_create(name, errorText));
  if (!capture) {
    error = errorText;
    return nullptr;
  }
  pcap_set_snaplen(capture.get(), settings.snapshotLength);
  pcap_set_promisc(capture.get(), settings.promiscuous ? 1 : 0);
  pcap_set_timeout(capture.get(), kBlockTimeoutMs);
  pcap_set_buffer_size(capture.get(), settings.bufferBytes);
  const int status = pcap_activate(capture.get());
  if (status >= 0) return capture;  // warnings don't stop the capture
  if (permissionDenied != nullptr) *permissionDenied = status == PCAP_ERROR_PERM_DENIED;

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
void reportKernelDrops(pcap_t* capture, const char* programName) {
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
                   "%s: %llu frames dropped by the kernel%s (of %llu received); messages may be missing and the "
                   "stream out of step\n",
                   programName, static_cast<unsigned long long>(dropped), interfacePart.c_str(),
                   static_cast<unsigned long long>(counts.ps_recv)));
}

}  // namespace vestrel
