// The kernel filter that keeps every frame but the chat port's out of the
// capture ring: other traffic then costs nothing, and cannot fill the ring
// and make the kernel drop chat frames.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <span>
#include <string>

namespace vestrel {

// The filter expression for TCP to or from port on a capture of this link
// type (a DLT_ value). On Ethernet it also takes VLAN-tagged frames, one or
// two tags deep; the other link types carry no tags.
std::string chatPortFilter(int linkType, uint16_t port);
// The same for any of several ports, and, when expression is not empty,
// only the frames it also takes (tested first: see the .cpp).
std::string chatPortsFilter(int linkType, std::span<const uint16_t> ports, const std::string& expression = {});

// A compiled filter, kept to test frames the program reads itself.
class FrameFilter {
 public:
  FrameFilter() = default;
  FrameFilter(const FrameFilter&) = delete;
  FrameFilter& operator=(const FrameFilter&) = delete;
  ~FrameFilter();

  bool installed() const { return program_.bf_insns != nullptr; }
  // Whether the frame passes; every frame does while none is installed.
  bool passes(const pcap_pkthdr& header, const uint8_t* bytes) const;

 private:
  friend std::string installFilter(pcap* capture, const std::string& expression, FrameFilter* keep);
  bpf_program program_{};
};

// Compiles expression for the capture's link type and installs it, and
// into keep as well when given. Empty when done, otherwise the library's
// reason.
std::string installFilter(pcap* capture, const std::string& expression, FrameFilter* keep = nullptr);

}  // namespace vestrel
