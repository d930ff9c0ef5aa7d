// Opening a capture device for the programs' live captures, stopping its
// loop on SIGINT and SIGTERM, and reporting the frames the kernel dropped.
#pragma once

#include <memory>
#include <string>

#include <pcap/pcap.h>

namespace vestrel {

struct CaptureCloser {
  void operator()(pcap_t* capture) const { pcap_close(capture); }
};
using OwnedCapture = std::unique_ptr<pcap_t, CaptureCloser>;

// What a live capture takes of the device: by default only the frames
// addressed to the machine.
struct LiveSettings {
  // Whole frames: a sender's segmentation offload hands the capture
  // datagrams of up to 65535 bytes, 65549 with their Ethernet header, so a
  // limit of 65536 would cut the end off the largest and leave a hole in
  // the stream. This is the capture library's own largest default.
  int snapshotLength = 262144;
  bool promiscuous = false;
  // The kernel ring holds frames while we print; whatever comes while it
  // is full is lost (and reported when the capture ends).
  int bufferBytes = 32 << 20;
};

// Opens the device by name into a packed ring whose blocks reach us within
// a few milliseconds. On failure error says why, worded as the library
// words its own: "device: reason", and permissionDenied tells whether the
// right to capture was missing.
OwnedCapture openLiveDevice(const char* name, std::string& error, bool* permissionDenied = nullptr,
                            const LiveSettings& settings = {});

// SIGINT and SIGTERM end the capture's loop; nullptr when the loop is over.
void stopOnSignals(pcap_t* capture);
// Whether one of them came since stopOnSignals, for a loop of our own.
bool stopSignalReceived();

// Says on standard error how many frames the kernel dropped, when any were.
void reportKernelDrops(pcap_t* capture, const char* programName);

}  // namespace vestrel
