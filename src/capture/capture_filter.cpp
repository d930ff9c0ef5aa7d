#include "capture/capture_filter.h"

#include <pcap/pcap.h>

namespace vestrel {

std::string chatPortFilter(int linkType, uint16_t port) {
  std::string plain = "tcp port " + std::to_string(port);
  if (linkType != DLT_EN10MB) return plain;
  // Each "vlan" moves the offsets of what follows it past one tag, so the
  // untagged test must come first.
  return plain + " or (vlan and (" + plain + " or (vlan and " + plain + ")))";
}

std::string installFilter(pcap_t* capture, const std::string& expression) {
  bpf_program program{};
  if (pcap_compile(capture, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) return pcap_geterr(capture);
  const int installed = pcap_setfilter(capture, &program);
  pcap_freecode(&program);
  if (installed != 0) return pcap_geterr(capture);
  return {};
}

}  // namespace vestrel
