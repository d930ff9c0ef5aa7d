// Real TCP traffic on 127.0.0.1:6112 for the program to watch. Every send is
// exactly one TCP segment, captured before the next send starts: both ends
// set TCP_NODELAY, the bytes go out in one write (loopback's MTU is 65536),
// and the peer reads all of them before the send returns. The private
// network keeps the kernel from sending any of them again.
#pragma once

#include <cstdint>
#include <functional>

#include "bytes.h"

namespace vestrel::live {

inline constexpr uint16_t kChatPort = 6112;
// One write of more than this could leave as several segments.
inline constexpr size_t kLargestSegment = 65000;

enum class Side { Client, Server };

// A socket descriptor that closes itself.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket();
  Socket(Socket&& other) noexcept : fd_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();

 private:
  int fd_ = -1;
};

// The chat server's listening socket on 127.0.0.1:6112 (or another port,
// for traffic the program must not see).
class ChatListener {
 public:
  // Failures are reported as test failures.
  bool open(uint16_t port = kChatPort);
  // Waits (bounded) for the next connection.
  Socket accept();
  uint16_t port() const { return port_; }

 private:
  Socket socket_;
  uint16_t port_ = kChatPort;
};

// Called after each step that puts frames on lo, to wait until the capture
// has taken them.
using Settle = std::function<void()>;

// One client connection and the server's end of it. Failures of any step
// are reported as test failures.
class ChatConnection {
 public:
  static ChatConnection open(ChatListener& listener, Settle settle = nullptr);

  void sends(Side from, const Bytes& bytes);
  void clientSends(const Bytes& bytes) { sends(Side::Client, bytes); }
  void serverSends(const Bytes& bytes) { sends(Side::Server, bytes); }

 private:
  void settleCapture() const {
    if (settle_) settle_();
  }

  Socket client_;
  Socket server_;
  Settle settle_;
};

}  // namespace vestrel::live
