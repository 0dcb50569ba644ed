// http_server.h -- the score server's HTTP/1.1 connections: one thread watches every socket at
// once (epoll), reads request heads within limits and deadlines, hands each complete request to
// a handler and writes the answers back in the order the requests came.
//
// A client costs a connection, never a thread: one that sends its request a byte at a time
// holds a small buffer until its deadline, and everyone else is served meanwhile.
#pragma once

#include <sys/eventfd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "request_head.h"

namespace scores {

struct Request {
  std::string method;  // GET, HEAD, ...
  std::string target;  // the path and the raw query, as sent
};

struct Response {
  int status = 200;
  std::string content_type;  // for the body; may be empty when the body is
  std::string body;          // left out of the answer to a HEAD, its length still given
  std::vector<std::pair<std::string, std::string>> headers;  // any others: Location, Allow
};

class HttpServer;

// Where the answer to one request goes. Cheap to copy; Send it exactly once, from any thread.
// An answer for a connection that has gone since is dropped.
class Answer {
 public:
  void Send(Response response) const;
  // Sends several answers of one server at once, waking its thread once rather than once each:
  // for a thread that answers many requests at a time.
  static void SendAll(std::vector<std::pair<Answer, Response>> answers);

 private:
  friend class HttpServer;
  Answer(HttpServer* server, std::uint64_t connection, std::uint64_t sequence)
      : server_(server), connection_(connection), sequence_(sequence) {}
  HttpServer* server_;
  std::uint64_t connection_;
  std::uint64_t sequence_;
};

// Called on the server's thread for each request, in the order of a connection's requests. It
// must not block: it answers at once or hands the work to another thread that answers later.
using Handler = std::function<void(const Request&, Answer)>;

struct HttpOptions {
  // A connection waiting for a request must deliver its whole head within this time (from its
  // start, or from the end of its previous answer), or is closed: 408 when a part had come.
  std::chrono::milliseconds request_timeout{5000};
  // A connection whose answer the client does not take for this long is closed.
  std::chrono::milliseconds write_timeout{10000};
  // Connections open at once. A new one beyond it closes the one that has waited longest for
  // a request; when every one is busy with a request, new ones wait in the kernel's queue.
  std::size_t max_connections = 1024;
  // On Stop, the longest the server waits for the answers still due.
  std::chrono::milliseconds stop_timeout{5000};
};

class HttpServer {
 public:
  explicit HttpServer(HttpOptions options = {});
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  ~HttpServer();

  // Called once before Run: binds host (a name or an address) and port, 0 for any free port.
  // Returns the port bound, or 0 when the address cannot be used.
  int Bind(const std::string& host, int port);

  // Serves on the calling thread until Stop. Every request received before the stop (its head
  // read, or waiting unread on its connection) is then answered before Run returns, within the
  // stop timeout. False when waiting on the sockets failed.
  bool Run(Handler handler);

  // Called from any thread, before Run or during it: ends Run as above.
  void Stop();

 private:
  friend class Answer;
  struct Connection;
  using Clock = std::chrono::steady_clock;

  void Complete(std::vector<std::pair<Answer, Response>> answers);
  std::size_t AcceptSome();
  bool MakeRoom();
  void PauseAccepting(bool paused);
  void OnReadable(std::uint64_t id);
  void ReadRequests(Connection& c);
  void Refuse(Connection& c, int status);
  bool TakeCompleted();
  void Flush(std::uint64_t id);
  void Linger(Connection& c);
  void Watch(Connection& c);
  void Close(std::uint64_t id);
  void CheckDeadlines(Clock::time_point now);
  void BeginStop();

  HttpOptions options_;
  Handler handler_;
  int listen_fd_ = -1;
  int epoll_fd_ = -1;
  int wake_fd_ = -1;
  bool accepting_paused_ = false;
  bool stopping_ = false;
  Clock::time_point stop_deadline_;
  std::uint64_t next_id_ = 2;  // 0 and 1 name the listening socket and the wake-up in epoll
  std::unordered_map<std::uint64_t, std::unique_ptr<Connection>> connections_;
  std::vector<char> scratch_;  // what one read takes, before it is kept or dropped

  std::mutex completed_mutex_;  // guards what other threads hand over
  std::vector<std::pair<Answer, Response>> completed_;
  bool stop_requested_ = false;
  bool sleeping_ = false;  // in epoll_wait, or about to be: a hand-over must wake it
};

}  // namespace scores
