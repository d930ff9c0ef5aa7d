// The network counters the kernel keeps for the calling process's network
// namespace, as the benchmark programs read them.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace vestrel::bench {

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
