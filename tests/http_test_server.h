// http_test_server.h -- HTTP ends on 127.0.0.1 for the transfer tests: a tiny server that answers
// every request with one status, a listener that never answers, and a port nobody listens on.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qv::test {

// A socket bound to a free port on 127.0.0.1; returns the port.
inline int BindLoopback(int fd) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

// A port that was free a moment ago and has no listener: connections to it are refused.
inline int RefusingPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int port = BindLoopback(fd);
  ::close(fd);
  return port;
}

// Listens but never accepts: a connection is made and its request is never answered.
class SilentListener {
 public:
  SilentListener() : fd_(::socket(AF_INET, SOCK_STREAM, 0)), port_(BindLoopback(fd_)) {
    ::listen(fd_, 4);
  }
  ~SilentListener() { ::close(fd_); }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  int port() const { return port_; }

 private:
  int fd_;
  int port_;
};

// Answers each connection with the given status after reading the request, and keeps every
// request line it has read.
class TinyHttpServer {
 public:
  explicit TinyHttpServer(int status)
      : status_(status), fd_(::socket(AF_INET, SOCK_STREAM, 0)), port_(BindLoopback(fd_)) {
    ::listen(fd_, 4);
    thread_ = std::thread([this] { Serve(); });
  }
  ~TinyHttpServer() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  TinyHttpServer(const TinyHttpServer&) = delete;
  TinyHttpServer& operator=(const TinyHttpServer&) = delete;
  int port() const { return port_; }
  // "GET /path?query HTTP/1.1" for each request so far, in order.
  std::vector<std::string> request_lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return request_lines_;
  }
  std::string request_line() const {
    auto lines = request_lines();
    return lines.empty() ? std::string() : lines.back();
  }

 private:
  void Serve() {
    for (;;) {
      int client = ::accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      std::string request;
      char buf[1024];
      while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::read(client, buf, sizeof buf);
        if (n <= 0) break;
        request.append(buf, static_cast<size_t>(n));
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        request_lines_.push_back(request.substr(0, request.find("\r\n")));
      }
      const std::string reply = "HTTP/1.1 " + std::to_string(status_) +
                                " X\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
      (void)!::write(client, reply.data(), reply.size());
      ::close(client);
    }
  }

  int status_;
  int fd_;
  int port_;
  mutable std::mutex mutex_;
  std::vector<std::string> request_lines_;
  std::thread thread_;
};

}  // namespace qv::test
