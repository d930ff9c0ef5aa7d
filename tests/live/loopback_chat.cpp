#include "loopback_chat.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "common/deadline.h"

namespace vestrel::live {

namespace {

constexpr Millis kTransferTimeout{5000};
// Room for the largest single write, so it is never cut short.
constexpr int kSocketBufferBytes = 1 << 20;

std::string lastError() { return std::strerror(errno); }

sockaddr_in loopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

void prepareEnd(int fd) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBufferBytes, sizeof kSocketBufferBytes);
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBufferBytes, sizeof kSocketBufferBytes);
}

bool waitFor(int fd, short events, const Deadline& deadline) {
  pollfd ready{fd, events, 0};
  return poll(&ready, 1, deadline.remainingMs()) > 0;
}

// Reads exactly bytes.size() bytes from the peer and checks they are the
// ones sent.
bool receiveExactly(int fd, const Bytes& expected, const Deadline& deadline) {
  Bytes received(expected.size());
  size_t count = 0;
  while (count < expected.size()) {
    if (!waitFor(fd, POLLIN, deadline)) return false;
    const ssize_t got = recv(fd, received.data() + count, expected.size() - count, MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return false;
    if (got > 0) count += static_cast<size_t>(got);
  }
  return received == expected;
}

}  // namespace

Socket::~Socket() {
  if (fd_ >= 0) close(fd_);
}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.release();
  }
  return *this;
}

int Socket::release() {
  const int released = fd_;
  fd_ = -1;
  return released;
}

bool ChatListener::open(uint16_t port) {
  port_ = port;
  socket_ = Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  setsockopt(socket_.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in address = loopbackAddress(port_);
  const bool listening = socket_.valid() &&
                         bind(socket_.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                         listen(socket_.fd(), 8) == 0;
  if (!listening) ADD_FAILURE() << "cannot listen on 127.0.0.1:" << port_ << ": " << lastError();
  return listening;
}

Socket ChatListener::accept() {
  if (!waitFor(socket_.fd(), POLLIN, Deadline(kTransferTimeout))) {
    ADD_FAILURE() << "no connection arrived at the listener";
    return Socket();
  }
  return Socket(accept4(socket_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
}

ChatConnection ChatConnection::open(ChatListener& listener, Settle settle) {
  ChatConnection connection;
  connection.settle_ = std::move(settle);
  connection.client_ = Socket(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  prepareEnd(connection.client_.fd());
  const sockaddr_in address = loopbackAddress(listener.port());
  if (connect(connection.client_.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ADD_FAILURE() << "cannot connect to 127.0.0.1:" << listener.port() << ": " << lastError();
    return connection;
  }
  connection.server_ = listener.accept();
  prepareEnd(connection.server_.fd());
  connection.settleCapture();
  return connection;
}

void ChatConnection::sends(Side from, const Bytes& bytes) {
  const char* sender = from == Side::Client ? "client" : "server";
  const int out = from == Side::Client ? client_.fd() : server_.fd();
  const int in = from == Side::Client ? server_.fd() : client_.fd();
  if (bytes.empty() || bytes.size() > kLargestSegment) {
    ADD_FAILURE() << sender << " send of " << bytes.size() << " bytes cannot be one segment";
    return;
  }
  const ssize_t written = send(out, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (written != static_cast<ssize_t>(bytes.size())) {
    ADD_FAILURE() << sender << " wrote " << written << " of " << bytes.size() << " bytes in one write: " << lastError();
    return;
  }
  if (!receiveExactly(in, bytes, Deadline(kTransferTimeout))) {
    ADD_FAILURE() << "the peer did not receive the " << sender << "'s " << bytes.size() << " bytes intact";
  }
  settleCapture();
}

}  // namespace vestrel::live
