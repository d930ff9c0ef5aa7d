// What the benchmark programs share for their traffic on lo: its address,
// whole writes, and the counters the kernel keeps for the network namespace.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "wire_bytes.h"

namespace vestrel::bench {

inline sockaddr_in loopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// All the bytes to a socket; false when it fails or the peer has gone
// (MSG_NOSIGNAL: that ends the write, not the program).
inline bool writeAll(int socket, const wire::Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = send(socket, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    done += static_cast<size_t>(count);
  }
  return true;
}

// One counter of a /proc/net table (snmp or netstat: a line of names, then
// a line of values, each starting with the group, "Tcp:" or "TcpExt:"), or
// -1 when it is not there.
inline long kernelCounter(const char* table, std::string_view group, std::string_view wanted) {
  std::ifstream file(table);
  std::string names;
  std::string values;
  while (std::getline(file, names) && std::getline(file, values)) {
    if (names.rfind(group, 0) != 0) continue;
    std::istringstream nameWords(names);
    std::istringstream valueWords(values);
    std::string name;
    std::string value;
    while (nameWords >> name && valueWords >> value) {
      if (name == wanted) return std::stol(value);
    }
  }
  return -1;
}

}  // namespace vestrel::bench
