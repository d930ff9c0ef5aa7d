#include "capture/capture_filter.h"

#include <pcap/pcap.h>

namespace vestrel {

namespace {

std::string tcpPorts(std::span<const uint16_t> ports) {
  std::string text = "tcp port " + std::to_string(ports.front());
  if (ports.size() == 1) return text;
  text = "tcp and (port " + std::to_string(ports.front());
  for (const uint16_t port : ports.subspan(1)) text += " or port " + std::to_string(port);
  return text + ")";
}

std::string withVlans(int linkType, std::string plain) {
  if (linkType != DLT_EN10MB) return plain;
  // Each "vlan" moves the offsets of what follows it past one tag, so the
  // untagged test must come first.
  return plain + " or (vlan and (" + plain + " or (vlan and " + plain + ")))";
}

}  // namespace

std::string chatPortFilter(int linkType, uint16_t port) { return chatPortsFilter(linkType, std::span(&port, 1)); }

std::string chatPortsFilter(int linkType, std::span<const uint16_t> ports, const std::string& expression) {
  std::string portFilter = withVlans(linkType, tcpPorts(ports));
  if (expression.empty()) return portFilter;
  // Each "vlan" moves the offsets of everything after it, so the user's
  // expression goes first, where it reads the frame as written.
  return "(" + expression + ") and (" + portFilter + ")";
}

std::string installFilter(pcap_t* capture, const std::string& expression, FrameFilter* keep) {
  bpf_program program{};
  if (pcap_compile(capture, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) return pcap_geterr(capture);
  const int installed = pcap_setfilter(capture, &program);
  if (installed == 0 && keep != nullptr) {
    pcap_freecode(&keep->program_);
    keep->program_ = program;
  } else {
    pcap_freecode(&program);
  }
  if (installed != 0) return pcap_geterr(capture);
  return {};
}

FrameFilter::~FrameFilter() { pcap_freecode(&program_); }

bool FrameFilter::passes(const pcap_pkthdr& header, const uint8_t* bytes) const {
  return !installed() || pcap_offline_filter(&program_, &header, bytes) != 0;
}

}  // namespace vestrel
