#include "capture/capture.h"

#include <pcap/pcap.h>

#include <csignal>
#include <memory>
#include <string>

#include "capture/devices.h"
#include "stream/console.h"
#include "stream/segment_handler.h"

namespace vestrel {

namespace {

// Whole frames, always: a sender's segmentation offload hands the capture
// datagrams of up to 65535 bytes, 65549 with their Ethernet header, so a
// limit of 65536 would cut the end off the largest and leave a hole in the
// stream. This is the capture library's own largest default.
constexpr int kSnapshotLength = 262144;
constexpr int kReadTimeoutMs = 1000;
// The kernel ring holds frames while we print. The library's default of
// 2 MB is only about 31 frames on loopback (64 KB a frame at its MTU, each
// frame seen twice), so a short stall of the process lost frames and put
// the stream out of step.
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

// Opens the device without promiscuous mode. Immediate mode hands every
// frame over as it arrives instead of when a kernel block fills or the read
// timeout passes, so each message is printed the moment it is seen.
OwnedCapture openDevice(const char* name, std::string& error) {
  char errorText[PCAP_ERRBUF_SIZE] = "";
  OwnedCapture capture(pcap_create(name, errorText));
  if (!capture) {
    error = errorText;
    return nullptr;
  }
  pcap_set_snaplen(capture.get(), kSnapshotLength);
  pcap_set_promisc(capture.get(), 0);
  pcap_set_timeout(capture.get(), kReadTimeoutMs);
  pcap_set_immediate_mode(capture.get(), 1);
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

}  // namespace

void runCapture(Options& options) {
  DeviceList devices;
  if (!devices.ok()) {
    consolePrint("Error obtaining device list: %s\n", devices.error().c_str());
    return;
  }
  if (devices.size() == 0) {
    consolePrint("No interfaces found - make sure WinPcap is installed.\n");
    return;
  }
  const auto position = chooseDevice(options.deviceNumber, devices.size());
  if (!position) {
    consolePrint("Invalid device number specified. Please choose from the following list:\n\n");
    printDeviceList();
    return;
  }
  const pcap_if& device = *devices.at(*position);
  std::string error;
  const OwnedCapture capture = openDevice(device.name, error);
  if (!capture) {
    consolePrint("Unable to open the interface: %s\n", error.c_str());
    return;
  }
  consolePrint("Monitoring '%s' for BNCS traffic...\n", displayName(device));
  flushConsole();
  devices.release();

  Monitor monitor(options);
  monitor.syncPending = true;
  // A device of a link type we cannot read is read as Ethernet, as always.
  monitor.linkLayer = linkLayerFor(pcap_datalink(capture.get())).value_or(LinkLayer::Ethernet);
  activeCapture = capture.get();
  installStopHandlers();
  pcap_loop(capture.get(), 0, handleSegment, reinterpret_cast<unsigned char*>(&monitor));
  activeCapture = nullptr;
  flushConsole();
}

}  // namespace vestrel
