#include "capture/capture.h"

#include <pcap/pcap.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "capture/capture_filter.h"
#include "capture/devices.h"
#include "capture/live_device.h"
#include "capture/privileges.h"
#include "decode/output_forms.h"
#include "output/console.h"
#include "stream/segment_handler.h"

namespace vestrel {

namespace {

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

int runCapture(int32_t deviceNumber, const OutputSettings& output) {
  DeviceList devices;
  if (!devices.ok()) {
    consolePrint("Error obtaining device list: %s\n", consoleSafe(devices.error()));
    return 0;
  }
  if (devices.size() == 0) {
    consolePrint("No interfaces found - make sure WinPcap is installed.\n");
    return 0;
  }
  const auto position = chooseDevice(deviceNumber, devices.size());
  if (!position) {
    consolePrint("Invalid device number specified. Please choose from the following list:\n\n");
    printDeviceList();
    return 0;
  }
  const pcap_if& device = *devices.at(*position);
  std::string error;
  const OwnedCapture capture = openLiveDevice(device.name, error);
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

  Monitor monitor(output);
  monitor.syncPending = true;
  // A device of a link type we cannot read is read as Ethernet, as always.
  monitor.linkLayer = linkLayerFor(pcap_datalink(capture.get())).value_or(LinkLayer::Ethernet);
  stopOnSignals(capture.get());
  // The batch is flushed as a whole: see printUntilStopped.
  monitor.printer.flushEachMessage = false;
  printUntilStopped(capture.get(), monitor);
  stopOnSignals(nullptr);
  // Below every message printed, so it reads as the run's last word.
  reportKernelDrops(capture.get(), "vestrel");
  return 0;
}

}  // namespace vestrel
