#include "capture/devices.h"

#include <pcap/pcap.h>

#include "decode/output_forms.h"
#include "output/console.h"

namespace vestrel {

DeviceList::DeviceList() {
  char errorText[PCAP_ERRBUF_SIZE] = "";
  ok_ = pcap_findalldevs(&devices_, errorText) == 0;
  if (!ok_) {
    error_ = errorText;
    devices_ = nullptr;
  }
}

DeviceList::~DeviceList() { release(); }

void DeviceList::release() {
  if (devices_ != nullptr) pcap_freealldevs(devices_);
  devices_ = nullptr;
}

size_t DeviceList::size() const {
  size_t count = 0;
  for (const pcap_if* device = devices_; device != nullptr; device = device->next) ++count;
  return count;
}

const pcap_if* DeviceList::at(size_t position) const {
  const pcap_if* device = devices_;
  for (; device != nullptr && position > 0; device = device->next) --position;
  return device;
}

// A description is the system's text, not the network's, but it may hold
// any byte all the same.
const char* displayName(const pcap_if& device) {
  return consoleSafe(device.description != nullptr ? device.description : device.name);
}

std::optional<size_t> chooseDevice(int32_t deviceNumber, size_t count) {
  const size_t position = deviceNumber <= 1 ? 0 : static_cast<size_t>(deviceNumber) - 1;
  if (position >= count) return std::nullopt;
  return position;
}

void printDeviceList() {
  const DeviceList devices;
  if (!devices.ok()) {
    consolePrint("Error obtaining device list: %s\n", consoleSafe(devices.error()));
    return;
  }
  int number = 1;
  for (const pcap_if* device = devices.at(0); device != nullptr; device = device->next) {
    consolePrint("%d. %s\n", number++, displayName(*device));
  }
}

}  // namespace vestrel
