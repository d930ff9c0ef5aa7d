// The capture devices, as the capture library lists them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct pcap_if;

namespace vestrel {

class DeviceList {
 public:
  // Fetches the list; on failure error() holds the library's text.
  DeviceList();
  ~DeviceList();
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  size_t size() const;
  // position is 0-based; nullptr beyond the list.
  const pcap_if* at(size_t position) const;
  // Releases the list early; size() is 0 afterwards.
  void release();

 private:
  pcap_if* devices_ = nullptr;
  bool ok_ = false;
  std::string error_;
};

// The description when the device has one, otherwise its name, made safe
// for the terminal as consoleSafe does; valid until its next call.
const char* displayName(const pcap_if& device);

// The 0-based position that a device number picks in a list of count
// devices: numbers up to 1 pick the first. Nothing when the list is shorter.
std::optional<size_t> chooseDevice(int32_t deviceNumber, size_t count);

// Fetches the list anew and prints it, "1. name" and so on.
void printDeviceList();

}  // namespace vestrel
