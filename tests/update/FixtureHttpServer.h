#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace lorvanta::testing {

// A small HTTP/1.1 server on 127.0.0.1 that serves fixed replies by path, one connection
// at a time, on a thread of its own.
class FixtureHttpServer {
 public:
  struct Reply {
    int status = 200;
    std::string body;
    std::string headers;  // extra header lines, each ending in "\r\n"
    bool hang = false;    // read the request, then never answer
  };

  FixtureHttpServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0) {
      const int error = errno;
      ::close(listener_);
      throw std::system_error(error, std::generic_category(), "fixture HTTP server: cannot listen");
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (::pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
    thread_ = std::thread([this] { serve(); });
  }

  ~FixtureHttpServer() {
    stopping_ = true;
    if (::write(wake_[1], "x", 1) < 0) {
    }
    thread_.join();
    for (int fd : hung_) ::close(fd);
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
  }

  void setReply(const std::string& path, Reply reply) {
    std::lock_guard lock(mutex_);
    replies_[path] = std::move(reply);
  }

  std::string url(const std::string& pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
  }

  int requestCount() const { return requests_.load(); }
  std::vector<std::string> requestTargets() const {
    std::lock_guard lock(mutex_);
    return targets_;
  }

  // A loopback address on which nothing listens.
  static std::string refusedURL() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      const int error = errno;
      ::close(fd);
      throw std::system_error(error, std::generic_category(), "fixture HTTP server: no free port");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/lookup?id=1";
  }

 private:
  // Waits until `fd` is readable; false when the server stops first.
  bool waitReadable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    while (!stopping_) {
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents != 0) return false;
      if (fds[0].revents != 0) return true;
    }
    return false;
  }

  void serve() {
    while (waitReadable(listener_)) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      std::string request;
      char chunk[4096];
      while (request.find("\r\n\r\n") == std::string::npos && waitReadable(client)) {
        const ssize_t n = ::recv(client, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        request.append(chunk, static_cast<size_t>(n));
      }
      const auto firstSpace = request.find(' ');
      const auto secondSpace = request.find(' ', firstSpace + 1);
      const std::string target = firstSpace == std::string::npos || secondSpace == std::string::npos
                                     ? std::string()
                                     : request.substr(firstSpace + 1, secondSpace - firstSpace - 1);
      Reply reply;
      {
        std::lock_guard lock(mutex_);
        targets_.push_back(target);
        const auto it = replies_.find(target.substr(0, target.find('?')));
        if (it != replies_.end()) {
          reply = it->second;
        } else {
          reply.status = 404;
        }
      }
      ++requests_;
      if (reply.hang) {
        hung_.push_back(client);
        continue;
      }
      const std::string head = "HTTP/1.1 " + std::to_string(reply.status) +
                               " Fixture\r\nContent-Length: " + std::to_string(reply.body.size()) +
                               "\r\nContent-Type: application/json\r\nConnection: close\r\n" + reply.headers +
                               "\r\n";
      sendAll(client, head + reply.body);
      ::close(client);
    }
  }

  static void sendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
      const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;  // the client went away
      sent += static_cast<size_t>(n);
    }
  }

  int listener_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> requests_{0};
  mutable std::mutex mutex_;
  std::map<std::string, Reply> replies_;
  std::vector<std::string> targets_;
  std::vector<int> hung_;
  std::thread thread_;
};

}  // namespace lorvanta::testing
