// vestrel-flood: chat traffic on 127.0.0.1:6112 as fast as the machine
// allows, or at a fixed rate, for a bounded time. A server end accepts the
// connection and reads everything; the client writes one chat command per
// write. Run it in a network namespace of its own (unshare -n) with lo up,
// so nothing else shares the port or the device.
//
//   vestrel-flood [--rate N] [--seconds S] [--nodelay]
//
// --rate 0 (the default) sends without pause. --nodelay sets TCP_NODELAY,
// so each write leaves as a segment of its own: one frame per message, the
// hard case for a capture. Without it the kernel packs writes (Nagle,
// autocorking) into fewer, larger segments. Prints one line:
//   messages=N seconds=T segments=K resent=R
// where segments counts the TCP segments sent in the namespace, both
// directions, acknowledgements included, and resent those sent again (a
// capture sees a segment sent again twice, and shows its messages twice).
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>

#include "protocol_messages.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kChatPort = 6112;
constexpr double kLongestRunSeconds = 60;

struct Request {
  long rate = 0;
  double seconds = 3;
  bool noDelay = false;
};

bool parseRequest(int argc, char** argv, Request& request) {
  for (int at = 1; at < argc; ++at) {
    const std::string_view option = argv[at];
    if (option == "--nodelay") {
      request.noDelay = true;
    } else if ((option == "--rate" || option == "--seconds") && at + 1 < argc) {
      const std::string_view value = argv[++at];
      if (option == "--rate") {
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), request.rate);
        if (error != std::errc() || end != value.data() + value.size() || request.rate < 0) return false;
      } else {
        request.seconds = std::strtod(argv[at], nullptr);
        if (!(request.seconds > 0 && request.seconds <= kLongestRunSeconds)) return false;
      }
    } else {
      return false;
    }
  }
  return true;
}

sockaddr_in chatAddress() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kChatPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int openListener() {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return -1;
  const int reuse = 1;
  const sockaddr_in address = chatAddress();
  if (setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
      bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(listener, 1) != 0) {
    close(listener);
    return -1;
  }
  return listener;
}

// The server end: reads until the client closes, counting the bytes.
void drain(int connection, long& received) {
  char chunk[1 << 16];
  for (ssize_t count = read(connection, chunk, sizeof chunk); count > 0;
       count = read(connection, chunk, sizeof chunk)) {
    received += count;
  }
}

// A TCP counter of this namespace (OutSegs, RetransSegs, ...), or -1.
long tcpCounter(std::string_view wanted) {
  std::ifstream snmp("/proc/net/snmp");
  std::string names;
  std::string values;
  while (std::getline(snmp, names) && std::getline(snmp, values)) {
    if (names.rfind("Tcp:", 0) != 0) continue;
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

bool writeAll(int fd, const vestrel::wire::Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    done += static_cast<size_t>(count);
  }
  return true;
}

// Writes number into the nine digits that end before digitsEnd.
void numberMessage(vestrel::wire::Bytes& message, size_t digitsEnd, long number) {
  constexpr size_t kDigits = 9;
  for (size_t i = 1; i <= kDigits; ++i, number /= 10) message[digitsEnd - i] = static_cast<uint8_t>('0' + number % 10);
}

// Sends until time is up, keeping to the rate by catching up every
// millisecond; the number sent.
long flood(int client, const Request& request) {
  // Numbered, so a missing message can be found in the capture's output;
  // always 36 bytes on the wire.
  vestrel::wire::Bytes message = vestrel::wire::chatCommand("anyone up for a 2v2? #000000000");
  const size_t digitsEnd = message.size() - 1;  // before the text's terminator
  const Clock::time_point start = Clock::now();
  const auto duration = std::chrono::duration<double>(request.seconds);
  long sent = 0;
  for (Clock::time_point now = start; now - start < duration; now = Clock::now()) {
    const double elapsed = std::chrono::duration<double>(now - start).count();
    const long due = request.rate == 0 ? sent + 64 : static_cast<long>(elapsed * static_cast<double>(request.rate));
    for (; sent < due; ++sent) {
      numberMessage(message, digitsEnd, sent);
      if (!writeAll(client, message)) return sent;
    }
    if (request.rate != 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return sent;
}

// One line on standard error; nothing more can be done if that fails.
void complain(const std::string& line) { static_cast<void>(std::fprintf(stderr, "%s\n", line.c_str())); }

}  // namespace

int main(int argc, char** argv) {
  Request request;
  if (!parseRequest(argc, argv, request)) {
    complain("usage: vestrel-flood [--rate N] [--seconds S (at most 60)] [--nodelay]");
    return 2;
  }
  const int listener = openListener();
  if (listener < 0) {
    complain("vestrel-flood: cannot listen on 127.0.0.1:" + std::to_string(kChatPort) + ": " + std::strerror(errno));
    return 1;
  }
  const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = chatAddress();
  if (client < 0 || connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    complain(std::string("vestrel-flood: cannot connect: ") + std::strerror(errno));
    return 1;
  }
  const int server = accept(listener, nullptr, nullptr);
  if (server < 0) {
    complain(std::string("vestrel-flood: accept failed: ") + std::strerror(errno));
    return 1;
  }
  long received = 0;
  std::thread reader(drain, server, std::ref(received));
  const int noDelay = request.noDelay ? 1 : 0;
  if (setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay) != 0) {
    complain(std::string("vestrel-flood: TCP_NODELAY: ") + std::strerror(errno));
  }

  const long segmentsBefore = tcpCounter("OutSegs");
  const long resentBefore = tcpCounter("RetransSegs");
  const Clock::time_point start = Clock::now();
  const long sent = flood(client, request);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  shutdown(client, SHUT_WR);
  reader.join();
  const long segments = tcpCounter("OutSegs") - segmentsBefore;
  const long resent = tcpCounter("RetransSegs") - resentBefore;
  close(client);
  close(server);
  close(listener);
  const int printed = std::printf("messages=%ld seconds=%.3f segments=%ld resent=%ld received=%ld\n", sent, seconds,
                                  segments, resent, received);
  return printed > 0 ? 0 : 1;
}
