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

// Opens the device by name, without promiscuous mode, taking whole frames
// into a large packed ring whose blocks reach us within a few milliseconds.
// On failure error says why, worded as the library words its own: "device:
// reason", and permissionDenied tells whether the right to capture was missing.
OwnedCapture openLiveDevice(const char* name, std::string& error, bool* permissionDenied = nullptr);

// SIGINT and SIGTERM end the capture's loop; nullptr when the loop is over.
void stopOnSignals(pcap_t* capture);
// Whether one of them came since stopOnSignals, for a loop of our own.
bool stopSignalReceived();

// Says on standard error how many frames the kernel dropped, when any were.
void reportKernelDrops(pcap_t* capture, const char* programName);

}  // namespace vestrel
