// vestrel-attack: what anyone who can send packets to a chat server can do
// to its monitor, done live while a real chat runs on 127.0.0.1:6112, and
// what the monitor then shows of that chat. Run it as root in a network
// namespace of its own (unshare -n) with lo up.
//
//   vestrel-attack ATTACK --output FILE --errors FILE [--replay CAPTURE] -- COMMAND...
//
// COMMAND is the capture to watch, printing each line behind the client
// end of its connection (vestrel-trace -i lo -t -U). It is started with
// its standard output into a pipe that is read as it comes and copied to
// --output, its standard error into --errors. Once it says it is
// listening, the chat opens (both ends here, TCP_NODELAY, one segment a
// message): each exchange is a numbered chat command answered by a chat
// event, or a numbered ping answered by the same ping. The attack runs
// between exchanges; then the chat closes, the capture gets SIGINT and one
// line is printed:
//   sent=N shown=M twice=T delay_median_ms=X delay_max_ms=Y frames=F inject_s=S
//   capture_cpu_s=C status=E challenge_acks=A
// sent: the chat's messages, both directions; shown: those the capture
// showed under the chat connection; twice: those it showed more than once;
// delay: from the client's write to its line on the capture's output;
// frames: attack frames put on lo, in inject_s seconds; capture_cpu_s: the
// capture's user and system time before it was stopped; status: its exit
// status (-1 when it did not exit by itself); challenge_acks: the kernel's
// answers to a SYN or RST it would not act on.
//
// Attack frames go on lo through a packet socket. Those made here carry
// the chat connection's addresses, ports and sequence numbers (read from
// the kernel) with valid checksums, so the kernel takes them as it would
// from the network and answers as a server does:
//   replay  CAPTURE's frames (a pcap file of Ethernet frames, such as
//           vestrel-gen writes), sent as fast as they go, while the chat
//           exchanges every 10 ms; its hosts are not on lo, so only the
//           capture takes them
//   syn     a SYN with the chat's four ports and another starting number
//   far     300 KB of forged chat commands at sequence number +10^9, then
//           pings
//   rst     an RST 10^9 past the client's next byte; then one inside the
//           window but not at the next byte, carrying a forged command;
//           then one carrying it at the next byte, which resets the
//           server's end and ends the chat
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "loopback_traffic.h"
#include "protocol_messages.h"
#include "tcp_packets.h"

namespace {

using namespace vestrel::wire;
using vestrel::bench::loopbackAddress;
using vestrel::bench::writeAll;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kChatPort = 6112;
constexpr std::array<uint8_t, 16> kLoopback{127, 0, 0, 1};
// Numbers go into ping values under this mark, so at most 65536 exchanges.
constexpr uint32_t kPingMark = 0x7E570000;
constexpr size_t kMaxExchanges = 0x10000;
constexpr std::chrono::milliseconds kReplayChatInterval{10};
constexpr std::chrono::milliseconds kSettle{50};
constexpr std::chrono::seconds kReadTimeout{5};
constexpr std::chrono::seconds kListenTimeout{10};
constexpr std::chrono::seconds kShowTimeout{60};
constexpr std::chrono::seconds kLongestReplay{120};
constexpr uint32_t kFarAhead = 1'000'000'000;
constexpr size_t kFarBytes = size_t{300} * 1024;
constexpr size_t kFarSegmentBytes = 1200;
constexpr uint32_t kInsideWindow = 1000;
constexpr size_t kExchangesAround = 5;

void complain(const std::string& line) {
  static_cast<void>(std::fprintf(stderr, "vestrel-attack: %s\n", line.c_str()));
}

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

enum class Attack { Replay, Syn, Far, Rst };

struct Request {
  Attack attack = Attack::Replay;
  std::string outputPath;
  std::string errorsPath;
  std::string replayPath;
  std::vector<char*> command;  // ends with nullptr
};

std::optional<Attack> attackNamed(std::string_view name) {
  if (name == "replay") return Attack::Replay;
  if (name == "syn") return Attack::Syn;
  if (name == "far") return Attack::Far;
  if (name == "rst") return Attack::Rst;
  return std::nullopt;
}

bool parseRequest(int argc, char** argv, Request& request) {
  if (argc < 2) return false;
  const auto named = attackNamed(argv[1]);
  if (!named) return false;
  request.attack = *named;
  int at = 2;
  for (; at + 1 < argc && std::string_view(argv[at]) != "--"; at += 2) {
    const std::string_view option = argv[at];
    if (option == "--output") {
      request.outputPath = argv[at + 1];
    } else if (option == "--errors") {
      request.errorsPath = argv[at + 1];
    } else if (option == "--replay") {
      request.replayPath = argv[at + 1];
    } else {
      return false;
    }
  }
  if (at >= argc || std::string_view(argv[at]) != "--" || at + 1 >= argc) return false;
  request.command.assign(argv + at + 1, argv + argc);
  request.command.push_back(nullptr);
  return !request.outputPath.empty() && !request.errorsPath.empty() &&
         (request.attack != Attack::Replay || !request.replayPath.empty());
}

// A descriptor that closes itself.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&&) = delete;
  Descriptor& operator=(Descriptor&&) = delete;

  int fd() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// ---- The capture being watched ----

// What the capture showed of the chat: for each exchange's number, how
// often each direction's message was shown, and when the client's first
// was.
struct Sightings {
  std::array<std::atomic<int>, kMaxExchanges> sent{};
  std::array<std::atomic<int>, kMaxExchanges> received{};
  std::array<std::atomic<int64_t>, kMaxExchanges> firstSentAt{};  // Clock ticks, 0: not yet
};

std::string chatText(size_t number) {
  char text[32];
  static_cast<void>(std::snprintf(text, sizeof text, "real chat #%06zu", number));
  return text;
}

// A number written with exactly width digits at the start of text.
std::optional<size_t> numberAt(std::string_view text, size_t width, int base) {
  size_t number = 0;
  if (text.size() < width) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + width, number, base);
  if (error != std::errc() || end != text.data() + width) return std::nullopt;
  return number;
}

// The exchange number a line of the chat connection shows, or nothing.
std::optional<size_t> exchangeNumber(std::string_view line) {
  constexpr std::string_view kChat = "real chat #";
  constexpr std::string_view kPing = "Ping value: 0x7E57";
  if (const size_t at = line.find(kChat); at != std::string_view::npos) {
    return numberAt(line.substr(at + kChat.size()), 6, 10);
  }
  if (const size_t at = line.find(kPing); at != std::string_view::npos) {
    return numberAt(line.substr(at + kPing.size()), 4, 16);
  }
  return std::nullopt;
}

// Reads the capture's standard output as it comes, copies it to a file,
// and notes each chat message it shows under the chat's client end.
class OutputWatcher {
 public:
  OutputWatcher(int pipe, std::FILE* copy, Sightings& sightings) : pipe_(pipe), copy_(copy), sightings_(sightings) {}

  void setClientEnd(const std::string& prefix) {
    const std::scoped_lock lock(prefixLock_);
    clientEnd_ = prefix;
  }

  // Until the pipe ends (the capture exited).
  void run() {
    std::array<char, 1 << 16> chunk{};
    for (ssize_t count = read(pipe_, chunk.data(), chunk.size()); count > 0 || (count < 0 && errno == EINTR);
         count = read(pipe_, chunk.data(), chunk.size())) {
      if (count < 0) continue;
      const int64_t now = Clock::now().time_since_epoch().count();
      static_cast<void>(std::fwrite(chunk.data(), 1, static_cast<size_t>(count), copy_));
      pending_.append(chunk.data(), static_cast<size_t>(count));
      takeLines(now);
    }
  }

 private:
  void takeLines(int64_t now) {
    size_t start = 0;
    for (size_t end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n', start)) {
      note(std::string_view(pending_).substr(start, end - start), now);
      start = end + 1;
    }
    pending_.erase(0, start);
  }

  void note(std::string_view line, int64_t now) {
    {
      const std::scoped_lock lock(prefixLock_);
      if (clientEnd_.empty() || line.substr(0, clientEnd_.size()) != clientEnd_) return;
    }
    const auto number = exchangeNumber(line);
    if (!number || *number >= kMaxExchanges) return;
    if (line.find("Sent -> ") != std::string_view::npos) {
      if (sightings_.sent[*number]++ == 0) sightings_.firstSentAt[*number] = now;
    } else if (line.find("Rcvd -> ") != std::string_view::npos) {
      ++sightings_.received[*number];
    }
  }

  int pipe_;
  std::FILE* copy_;
  Sightings& sightings_;
  std::string pending_;
  std::mutex prefixLock_;
  std::string clientEnd_;  // "127.0.0.1:PORT " as the capture prints it
};

bool fileHolds(const std::string& path, std::string_view text) {
  std::ifstream file(path);
  const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return content.find(text) != std::string::npos;
}

// A process's user and system seconds, from /proc; -1 when unknown.
double cpuSecondsOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string line((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t nameEnd = line.rfind(')');
  if (nameEnd == std::string::npos || nameEnd + 2 > line.size()) return -1;
  // After the name come the fields from 3 (state) on; utime and stime are
  // fields 14 and 15.
  std::istringstream fields(line.substr(nameEnd + 2));
  std::string skipped;
  for (int field = 3; field < 14; ++field) fields >> skipped;
  long user = 0;
  long system = 0;
  if (!(fields >> user >> system)) return -1;
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The capture program, its output read as it comes by a thread of its own.
class Capture {
 public:
  explicit Capture(Sightings& sightings) : sightings_(sightings) {}
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  Capture(Capture&&) = delete;
  Capture& operator=(Capture&&) = delete;
  ~Capture() {
    if (running_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
    if (copy_ != nullptr) static_cast<void>(std::fclose(copy_));
  }

  bool start(const Request& request) {
    copy_ = std::fopen(request.outputPath.c_str(), "w");
    if (copy_ == nullptr) return fail(systemError(request.outputPath));
    std::array<int, 2> ends{};
    if (pipe2(ends.data(), O_CLOEXEC) != 0) return fail(systemError("pipe"));
    pipe_.reset(ends[0]);
    // This process's copy closes on return, so the pipe ends when the capture does.
    const Descriptor writeEnd(ends[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.fd(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, request.errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    const int failed = posix_spawn(&pid_, request.command[0], &actions, nullptr, request.command.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
      errno = failed;
      return fail(systemError(request.command[0]));
    }
    running_ = true;
    watcher_.emplace(pipe_.fd(), copy_, sightings_);
    reader_ = std::thread([this] { watcher_->run(); });
    return true;
  }

  // Until the capture says on its standard error that it listens.
  bool awaitListening(const std::string& errorsPath) {
    const Clock::time_point deadline = Clock::now() + kListenTimeout;
    while (!fileHolds(errorsPath, "listening on")) {
      if (waitpid(pid_, nullptr, WNOHANG) != 0) {
        running_ = false;
        return fail("the capture ended before it listened");
      }
      if (Clock::now() > deadline) return fail("the capture never said it was listening");
      std::this_thread::sleep_for(kSettle);
    }
    return true;
  }

  void setClientEnd(const std::string& prefix) { watcher_->setClientEnd(prefix); }
  double cpuSeconds() const { return cpuSecondsOf(pid_); }

  // SIGINT, then its exit status once it has written everything; -1 when
  // it had to be killed.
  int stop() {
    kill(pid_, SIGINT);
    int status = 0;
    const Clock::time_point deadline = Clock::now() + kShowTimeout;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        status = -1;
        break;
      }
      std::this_thread::sleep_for(kSettle);
    }
    running_ = false;
    reader_.join();
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  static bool fail(const std::string& line) {
    complain(line);
    return false;
  }

  Sightings& sightings_;
  pid_t pid_ = -1;
  bool running_ = false;
  std::FILE* copy_ = nullptr;
  Descriptor pipe_;
  std::optional<OutputWatcher> watcher_;
  std::thread reader_;
};

// ---- The chat ----

// Reads exactly count bytes, waiting at most kReadTimeout for each piece.
bool readExactly(int fd, size_t count) {
  std::vector<uint8_t> buffer(count);
  size_t done = 0;
  while (done < count) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(kReadTimeout).count())) <= 0) return false;
    const ssize_t got = read(fd, buffer.data() + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

// Both ends of one chat connection on 127.0.0.1:6112. Each write is one
// segment: TCP_NODELAY, and the peer reads it before the next one.
class Chat {
 public:
  bool open() {
    listener_.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    client_.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    const sockaddr_in serverAddress = loopbackAddress(kChatPort);
    const auto* address = reinterpret_cast<const sockaddr*>(&serverAddress);
    if (listener_.fd() < 0 || client_.fd() < 0 ||
        setsockopt(listener_.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(listener_.fd(), address, sizeof serverAddress) != 0 || listen(listener_.fd(), 1) != 0 ||
        connect(client_.fd(), address, sizeof serverAddress) != 0) {
      complain(systemError("cannot open a chat connection on 127.0.0.1:6112"));
      return false;
    }
    server_.reset(accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (server_.fd() < 0 || getsockname(client_.fd(), reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        setsockopt(client_.fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 ||
        setsockopt(server_.fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
      complain(systemError("cannot set up the chat connection"));
      return false;
    }
    clientPort_ = ntohs(local.sin_port);
    // The client's first byte names the protocol: 0x01, chat messages.
    return writeAll(client_.fd(), protocolByte()) && readExactly(server_.fd(), 1);
  }

  // The client end as the capture prints it in front of each line.
  std::string clientEnd() const { return "127.0.0.1:" + std::to_string(clientPort_) + " "; }
  Endpoint client() const { return {kLoopback, clientPort_}; }
  static Endpoint server() { return {kLoopback, kChatPort}; }

  // A chat command answered by a chat event, or a ping answered by itself.
  bool exchange(size_t number, bool ping) {
    const std::string text = chatText(number);
    const Bytes request = ping ? vestrel::wire::ping(kPingMark | static_cast<uint32_t>(number)) : chatCommand(text);
    const Bytes answer = ping ? request : chatEvent(ChatEvent::Talk, kNoFlags, 0, "peer", text);
    return writeAll(client_.fd(), request) && readExactly(server_.fd(), request.size()) &&
           writeAll(server_.fd(), answer) && readExactly(client_.fd(), answer.size());
  }

  // The connection as a spoofer sends it: its client offset bytes ahead of
  // where the client's kernel stands, its server where the server's does;
  // nothing when the kernel does not tell. The numbers come from the
  // kernel's repair interface, left again without sending anything.
  std::optional<TcpConnection> spoofedAhead(uint32_t offset) const {
    const int fd = client_.fd();
    int value = TCP_REPAIR_ON;
    if (setsockopt(fd, IPPROTO_TCP, TCP_REPAIR, &value, sizeof value) != 0) {
      complain(systemError("TCP_REPAIR"));
      return std::nullopt;
    }
    const auto next = [fd](int queue) -> std::optional<uint32_t> {
      uint32_t sequence = 0;
      socklen_t length = sizeof sequence;
      if (setsockopt(fd, IPPROTO_TCP, TCP_REPAIR_QUEUE, &queue, sizeof queue) != 0 ||
          getsockopt(fd, IPPROTO_TCP, TCP_QUEUE_SEQ, &sequence, &length) != 0) {
        return std::nullopt;
      }
      return sequence;
    };
    const auto clientNext = next(TCP_SEND_QUEUE);
    const auto serverNext = next(TCP_RECV_QUEUE);
    value = TCP_REPAIR_OFF_NO_WP;
    const bool left = setsockopt(fd, IPPROTO_TCP, TCP_REPAIR, &value, sizeof value) == 0;
    if (!clientNext || !serverNext || !left) {
      complain(systemError("cannot read the chat's sequence numbers"));
      return std::nullopt;
    }
    return TcpConnection(client(), server(), *clientNext + offset, *serverNext);
  }

  // Both ends close: FIN from each side.
  void close() {
    shutdown(client_.fd(), SHUT_WR);
    shutdown(server_.fd(), SHUT_WR);
  }

 private:
  Descriptor listener_;
  Descriptor client_;
  Descriptor server_;
  uint16_t clientPort_ = 0;
};

// ---- Frames put on lo ----

class LoopbackInjector {
 public:
  bool open() {
    // Protocol 0: the socket sends and never receives.
    socket_.reset(socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0));
    to_.sll_family = AF_PACKET;
    to_.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
    to_.sll_halen = ETH_ALEN;
    if (socket_.fd() < 0 || to_.sll_ifindex == 0) {
      complain(systemError("cannot open a packet socket on lo"));
      return false;
    }
    return true;
  }

  // A full send buffer is waited out, a little at a time.
  bool send(std::span<const uint8_t> frame) {
    constexpr int kTries = 1000;
    for (int tries = 0; tries < kTries; ++tries) {
      const ssize_t sent =
          sendto(socket_.fd(), frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
      if (sent == static_cast<ssize_t>(frame.size())) {
        ++frames_;
        return true;
      }
      if (sent >= 0 || (errno != EINTR && errno != ENOBUFS)) break;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    complain(systemError("cannot put a frame on lo"));
    return false;
  }

  // An IP packet in an Ethernet frame addressed as lo addresses its own:
  // all zeros, so the kernel takes it in as for this host.
  bool send(const TcpPacket& packet) {
    constexpr uint16_t kIpv4 = 0x0800;
    Bytes frame(12, 0);
    frame = frame + netWord(kIpv4) + packet.bytes;
    return send(std::span<const uint8_t>(frame));
  }

  size_t frames() const { return frames_; }

 private:
  Descriptor socket_;
  sockaddr_ll to_{};
  size_t frames_ = 0;
};

std::optional<std::vector<uint8_t>> readWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

uint32_t fileWord(std::span<const uint8_t> bytes, bool swapped) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data(), sizeof value);
  return swapped ? __builtin_bswap32(value) : value;
}

// The frames of a classic pcap file of Ethernet frames, in order; nothing
// when the file is none or is cut inside a record.
std::optional<std::vector<std::span<const uint8_t>>> ethernetFrames(std::span<const uint8_t> file) {
  constexpr size_t kFileHeader = 24;
  constexpr size_t kRecordHeader = 16;
  constexpr uint32_t kMicroseconds = 0xA1B2C3D4;
  constexpr uint32_t kNanoseconds = 0xA1B23C4D;
  constexpr uint32_t kEthernet = 1;
  if (file.size() < kFileHeader) return std::nullopt;
  const uint32_t magic = fileWord(file, false);
  const bool swapped = magic == __builtin_bswap32(kMicroseconds) || magic == __builtin_bswap32(kNanoseconds);
  if (!swapped && magic != kMicroseconds && magic != kNanoseconds) return std::nullopt;
  if (fileWord(file.subspan(20), swapped) != kEthernet) return std::nullopt;
  std::vector<std::span<const uint8_t>> frames;
  for (size_t at = kFileHeader; at < file.size();) {
    if (file.size() - at < kRecordHeader) return std::nullopt;
    const uint32_t length = fileWord(file.subspan(at + 8), swapped);
    at += kRecordHeader;
    if (file.size() - at < length) return std::nullopt;
    frames.push_back(file.subspan(at, length));
    at += length;
  }
  return frames;
}

// ---- The run ----

struct Run {
  Chat chat;
  LoopbackInjector injector;
  std::vector<int64_t> sentAt = std::vector<int64_t>(kMaxExchanges);  // Clock ticks
  size_t exchanges = 0;
  double injectSeconds = 0;
};

bool exchange(Run& run, bool ping = false) {
  if (run.exchanges >= kMaxExchanges) return false;
  run.sentAt[run.exchanges] = Clock::now().time_since_epoch().count();
  return run.chat.exchange(run.exchanges++, ping);
}

bool exchangeSome(Run& run, bool ping = false) {
  for (size_t count = 0; count < kExchangesAround; ++count) {
    if (!exchange(run, ping)) return false;
  }
  return true;
}

// Sends the frames as fast as they go from a thread of its own while the
// chat exchanges every few milliseconds.
bool replay(Run& run, const std::vector<std::span<const uint8_t>>& frames) {
  std::atomic<bool> done{false};
  std::atomic<bool> sentAll{true};
  const Clock::time_point start = Clock::now();
  std::thread sender([&] {
    for (const auto& frame : frames) {
      if (!run.injector.send(frame)) {
        sentAll = false;
        break;
      }
    }
    run.injectSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    done = true;
  });
  bool chatting = true;
  while (!done && chatting && Clock::now() - start < kLongestReplay) {
    chatting = exchange(run);
    std::this_thread::sleep_for(kReplayChatInterval);
  }
  sender.join();
  return chatting && sentAll;
}

// Puts the packets on lo, timed, then lets the capture take them before
// the chat goes on.
bool inject(Run& run, const std::vector<TcpPacket>& packets) {
  const Clock::time_point start = Clock::now();
  const bool sent = std::all_of(packets.begin(), packets.end(),
                                [&run](const TcpPacket& packet) { return run.injector.send(packet); });
  run.injectSeconds += std::chrono::duration<double>(Clock::now() - start).count();
  std::this_thread::sleep_for(kSettle);
  return sent;
}

bool spoofSyn(Run& run) {
  constexpr uint32_t kAnotherStart = 0x40000000;
  auto spoofer = run.chat.spoofedAhead(kAnotherStart);
  return spoofer && inject(run, {spoofer->syn()});
}

Bytes forgedCommand(size_t number) {
  char text[32];
  static_cast<void>(std::snprintf(text, sizeof text, "/forged #%04zu", number));
  return chatCommand(text);
}

bool sendFarAhead(Run& run) {
  auto forger = run.chat.spoofedAhead(kFarAhead);
  if (!forger) return false;
  Bytes forged;
  for (size_t number = 0; forged.size() < kFarBytes; ++number) {
    const Bytes command = forgedCommand(number);
    forged.insert(forged.end(), command.begin(), command.end());
  }
  forged.resize(kFarBytes);
  std::vector<TcpPacket> segments;
  for (size_t offset = 0; offset < kFarBytes; offset += kFarSegmentBytes) {
    const size_t length = std::min(kFarSegmentBytes, kFarBytes - offset);
    segments.push_back(forger->data(Side::Client, std::span<const uint8_t>(forged).subspan(offset, length)));
  }
  return inject(run, segments) && exchangeSome(run, true);
}

// Out of the window, then inside it but not at the next byte, then at the
// next byte, which resets the server's end: the chat ends there.
bool sendResets(Run& run) {
  auto outside = run.chat.spoofedAhead(kFarAhead);
  if (!outside || !inject(run, {outside->reset(Side::Client)}) || !exchangeSome(run)) return false;
  auto inside = run.chat.spoofedAhead(kInsideWindow);
  if (!inside || !inject(run, {inside->reset(Side::Client, forgedCommand(0))}) || !exchangeSome(run)) return false;
  auto exact = run.chat.spoofedAhead(0);
  return exact && inject(run, {exact->reset(Side::Client, forgedCommand(1))});
}

bool attack(const Request& request, Run& run) {
  switch (request.attack) {
    case Attack::Replay: {
      const auto file = readWholeFile(request.replayPath);
      const auto frames = file ? ethernetFrames(*file) : std::nullopt;
      if (!frames) {
        complain(request.replayPath + ": not a pcap file of Ethernet frames");
        return false;
      }
      return replay(run, *frames) && exchangeSome(run);
    }
    case Attack::Syn: return spoofSyn(run) && exchangeSome(run);
    case Attack::Far: return sendFarAhead(run);
    case Attack::Rst: return sendResets(run);
  }
  return false;
}

// Until every message of the chat was shown both ways, or the time is up.
void awaitShown(const Sightings& sightings, size_t exchanges) {
  const Clock::time_point deadline = Clock::now() + kShowTimeout;
  for (size_t number = 0; number < exchanges && Clock::now() < deadline;) {
    if (sightings.sent[number] > 0 && sightings.received[number] > 0) {
      ++number;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

double milliseconds(int64_t ticks) { return std::chrono::duration<double, std::milli>(Clock::duration(ticks)).count(); }

// Segments the kernel sent to challenge a SYN or RST it would not act on
// (RFC 5961), in this namespace so far.
long challengeAcks() { return vestrel::bench::kernelCounter("/proc/net/netstat", "TcpExt:", "TCPChallengeACK"); }

void report(const Run& run, const Sightings& sightings, double cpu, int status) {
  size_t shown = 0;
  size_t twice = 0;
  std::vector<double> delays;
  for (size_t number = 0; number < run.exchanges; ++number) {
    for (const int seen : {sightings.sent[number].load(), sightings.received[number].load()}) {
      shown += seen > 0 ? 1 : 0;
      twice += seen > 1 ? 1 : 0;
    }
    if (sightings.sent[number] > 0) delays.push_back(milliseconds(sightings.firstSentAt[number] - run.sentAt[number]));
  }
  std::sort(delays.begin(), delays.end());
  const double median = delays.empty() ? 0 : delays[delays.size() / 2];
  const double longest = delays.empty() ? 0 : delays.back();
  static_cast<void>(
      std::printf("sent=%zu shown=%zu twice=%zu delay_median_ms=%.1f delay_max_ms=%.1f frames=%zu inject_s=%.3f "
                  "capture_cpu_s=%.2f status=%d challenge_acks=%ld\n",
                  run.exchanges * 2, shown, twice, median, longest, run.injector.frames(), run.injectSeconds, cpu,
                  status, challengeAcks()));
}

}  // namespace

int main(int argc, char** argv) {
  Request request;
  if (!parseRequest(argc, argv, request)) {
    complain("usage: vestrel-attack replay|syn|far|rst --output FILE --errors FILE [--replay CAPTURE] -- COMMAND...");
    return 2;
  }
  const auto sightings = std::make_unique<Sightings>();
  Capture capture(*sightings);
  if (!capture.start(request) || !capture.awaitListening(request.errorsPath)) return 1;
  Run run;
  if (!run.injector.open() || !run.chat.open()) return 1;
  capture.setClientEnd(run.chat.clientEnd());
  const bool attacked = exchangeSome(run) && attack(request, run);
  awaitShown(*sightings, run.exchanges);
  run.chat.close();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const double cpu = capture.cpuSeconds();
  const int status = capture.stop();
  report(run, *sightings, cpu, status);
  if (!attacked) complain("the chat or the attack broke off");
  return attacked ? 0 : 1;
}
