// vestrel-flood: chat traffic on 127.0.0.1:6112 as fast as the machine
// allows, or at a fixed rate, for a bounded time. A server end accepts the
// connection and reads everything; the client writes one chat command per
// write. Run it in a network namespace of its own (unshare -n) with lo up,
// so nothing else shares the port or the device.
//
//   vestrel-flood [--rate N] [--seconds S] [--nodelay] [--bulk-port P]
//
// --rate 0 (the default) sends without pause. --nodelay sets TCP_NODELAY,
// so each write leaves as a segment of its own: one frame per message, the
// hard case for a capture. Without it the kernel packs writes (Nagle,
// autocorking) into fewer, larger segments. --bulk-port runs a second
// transfer beside the chat for the same seconds, on 127.0.0.1:P: large
// writes as fast as the machine allows, drained by a server end, the
// traffic a capture of the chat port must not be disturbed by. Prints one
// line:
//   messages=N seconds=T segments=K resent=R received=B bulk=U
// where segments counts the TCP segments sent in the namespace, both
// directions, acknowledgements included (the bulk transfer's too), resent
// those sent again (a capture sees a segment sent again twice, and shows
// its messages twice), received the chat bytes the server end read and bulk
// the bulk bytes it read (0 without --bulk-port).
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "loopback_traffic.h"
#include "protocol_messages.h"

namespace {

using vestrel::bench::loopbackAddress;
using vestrel::bench::writeAll;
using Clock = std::chrono::steady_clock;
constexpr uint16_t kChatPort = 6112;
constexpr double kLongestRunSeconds = 60;

// Large enough that the sender spends its time in the kernel moving data,
// as a file copy does, and the device carries segments of the largest size.
constexpr size_t kBulkWriteBytes = 1 << 20;

struct Request {
  long rate = 0;
  double seconds = 3;
  bool noDelay = false;
  long bulkPort = 0;  // 0: no bulk transfer
};

// A whole decimal number, nothing around it.
bool parseWhole(std::string_view text, long& number) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end == text.data() + text.size();
}

bool parseValue(std::string_view option, const char* value, Request& request) {
  if (option == "--rate") return parseWhole(value, request.rate) && request.rate >= 0;
  if (option == "--bulk-port") {
    return parseWhole(value, request.bulkPort) && request.bulkPort > 0 && request.bulkPort <= UINT16_MAX &&
           request.bulkPort != kChatPort;
  }
  if (option == "--seconds") {
    request.seconds = std::strtod(value, nullptr);
    return request.seconds > 0 && request.seconds <= kLongestRunSeconds;
  }
  return false;
}

bool parseRequest(int argc, char** argv, Request& request) {
  for (int at = 1; at < argc; ++at) {
    const std::string_view option = argv[at];
    if (option == "--nodelay") {
      request.noDelay = true;
    } else if (at + 1 >= argc || !parseValue(option, argv[++at], request)) {
      return false;
    }
  }
  return true;
}

int openListener(uint16_t port) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return -1;
  const int reuse = 1;
  const sockaddr_in address = loopbackAddress(port);
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
long tcpCounter(std::string_view wanted) { return vestrel::bench::kernelCounter("/proc/net/snmp", "Tcp:", wanted); }

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

// Both ends of one TCP connection over lo, and the listener that made it.
struct Connection {
  int listener = -1;
  int client = -1;
  int server = -1;

  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  Connection(Connection&&) = delete;
  Connection& operator=(Connection&&) = delete;
  ~Connection() {
    for (const int fd : {client, server, listener}) {
      if (fd >= 0) close(fd);
    }
  }
};

// Connects a client to a server end on 127.0.0.1:port; false, with the
// reason said, when it cannot.
bool connectLoopback(uint16_t port, Connection& connection) {
  const std::string where = "127.0.0.1:" + std::to_string(port);
  connection.listener = openListener(port);
  if (connection.listener < 0) {
    complain("vestrel-flood: cannot listen on " + where + ": " + std::strerror(errno));
    return false;
  }
  connection.client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = loopbackAddress(port);
  if (connection.client < 0 ||
      connect(connection.client, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    complain("vestrel-flood: cannot connect to " + where + ": " + std::strerror(errno));
    return false;
  }
  connection.server = accept(connection.listener, nullptr, nullptr);
  if (connection.server < 0) {
    complain("vestrel-flood: accept on " + where + " failed: " + std::strerror(errno));
    return false;
  }
  return true;
}

// Writes large blocks flat out until stop is set. MSG_NOSIGNAL: a server
// end that has gone ends the transfer instead of the program.
void pushBulk(int client, const std::atomic<bool>& stop) {
  const std::vector<char> block(kBulkWriteBytes, 'x');
  while (!stop.load()) {
    if (send(client, block.data(), block.size(), MSG_NOSIGNAL) < 0 && errno != EINTR) return;
  }
}

// The transfer on the bulk port, beside the chat.
struct BulkTransfer {
  Connection connection;
  std::atomic<bool> stop{false};
  long received = 0;
  std::thread reader;
  std::thread writer;
};

void startBulk(BulkTransfer& bulk) {
  bulk.reader = std::thread(drain, bulk.connection.server, std::ref(bulk.received));
  bulk.writer = std::thread(pushBulk, bulk.connection.client, std::cref(bulk.stop));
}

// Stops the writer and lets the server end read what is still on the way;
// the bytes it read in all. The writer is joined before the write side is
// shut, so no write of it meets a closed socket.
long finishBulk(BulkTransfer& bulk) {
  if (!bulk.writer.joinable()) return 0;
  bulk.stop = true;
  bulk.writer.join();
  shutdown(bulk.connection.client, SHUT_WR);
  bulk.reader.join();
  return bulk.received;
}

void setNoDelay(int client, bool noDelay) {
  const int value = noDelay ? 1 : 0;
  if (setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) != 0) {
    complain(std::string("vestrel-flood: TCP_NODELAY: ") + std::strerror(errno));
  }
}

}  // namespace

int main(int argc, char** argv) {
  Request request;
  if (!parseRequest(argc, argv, request)) {
    complain("usage: vestrel-flood [--rate N] [--seconds S (at most 60)] [--nodelay] [--bulk-port P]");
    return 2;
  }
  Connection chat;
  BulkTransfer bulk;
  if (!connectLoopback(kChatPort, chat)) return 1;
  if (request.bulkPort != 0 && !connectLoopback(static_cast<uint16_t>(request.bulkPort), bulk.connection)) return 1;
  setNoDelay(chat.client, request.noDelay);
  // A client opens with its protocol byte, 0x01 for chat messages; the
  // server end's count of bytes read includes it.
  const char protocolByte = 0x01;
  if (send(chat.client, &protocolByte, 1, MSG_NOSIGNAL) != 1) {
    complain(std::string("vestrel-flood: cannot send the protocol byte: ") + std::strerror(errno));
    return 1;
  }
  long received = 0;
  std::thread reader(drain, chat.server, std::ref(received));

  const long segmentsBefore = tcpCounter("OutSegs");
  const long resentBefore = tcpCounter("RetransSegs");
  if (request.bulkPort != 0) startBulk(bulk);
  const Clock::time_point start = Clock::now();
  const long sent = flood(chat.client, request);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const long bulkReceived = finishBulk(bulk);
  shutdown(chat.client, SHUT_WR);
  reader.join();
  const long segments = tcpCounter("OutSegs") - segmentsBefore;
  const long resent = tcpCounter("RetransSegs") - resentBefore;
  const int printed = std::printf("messages=%ld seconds=%.3f segments=%ld resent=%ld received=%ld bulk=%ld\n", sent,
                                  seconds, segments, resent, received, bulkReceived);
  return printed > 0 ? 0 : 1;
}
