// http_server.h -- the score server's HTTP/1.1 connections, on libmicrohttpd: one thread runs the
// library's epoll loop, hands each complete request to a handler and sends the answer the
// handler gives, at once or later from another thread.
//
// The library reads, limits and answers; this layer adds what it leaves open: a deadline for a
// whole request head, a head that comes in pieces read once a tick rather than at every piece,
// a stop that answers every request already sent, the request-line and Host rules of RFC 9112,
// and a route's own limit on a request body.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "request_rules.h"

namespace scores {

struct Request {
  std::string method;         // GET, HEAD, ...
  std::string target;         // the path and the raw query, as sent (an absolute URL's path only)
  std::string body;           // empty unless the route's body limit let one in
  std::string if_none_match;  // the If-None-Match field, for a file the client has a copy of
  std::string range;          // the Range field, for a part of a recording a player seeks to
};

struct Response {
  int status = 200;
  std::string content_type;  // for the body; may be empty when the body is
  std::string body;          // left out of the answer to a HEAD, its length still given
  // Used instead of `body` when set: one text shared by many answers (a page sent to many
  // clients at once), kept alive until the last of them is sent.
  std::shared_ptr<const std::string> shared_body;
  std::vector<std::pair<std::string, std::string>> headers;  // any others: Location, Allow
};

struct Exchange;
struct Wake;

// Where the answer to one request goes. Cheap to copy; Send it exactly once, from any thread,
// during the handler's call or after it. An answer the server can no longer give (its client
// gone, the server stopped) is dropped.
class Answer {
 public:
  void Send(Response response) const;
  static void SendAll(std::vector<std::pair<Answer, Response>> answers);

 private:
  friend class HttpServer;
  explicit Answer(std::shared_ptr<Exchange> exchange) : exchange_(std::move(exchange)) {}
  Wake* Deliver(Response response) const;
  std::shared_ptr<Exchange> exchange_;
};

// Called on the server's thread for each request, in the order of a connection's requests. It
// must not block: it answers at once or hands the work to another thread that answers later.
using Handler = std::function<void(const Request&, Answer)>;

struct HttpOptions {
  // A connection waiting for a request must deliver its whole head within this time (from its
  // start, or from the end of its previous answer), or is closed: 408 when a part had come. A
  // connection that neither sends nor takes a byte for this long is closed too.
  std::chrono::milliseconds request_timeout{5000};
  // Connections open at once, fewer when the limit on open files is lower. New ones beyond it
  // wait in the kernel's queue until one closes; no connection is closed to make room.
  std::size_t max_connections = 1024;
  // Connections from one address at once; 0 for no limit. Behind a reverse proxy every client
  // has the proxy's address, so the program leaves it off.
  std::size_t max_connections_per_address = 0;
  // On Stop, the longest the server waits for the answers still due.
  std::chrono::milliseconds stop_timeout{5000};
  // The most body bytes a request may carry, decided from its method and target once its head
  // is read; beyond it the request is refused with 413. None when unset: no route takes a body.
  std::function<std::size_t(const Request&)> body_limit;
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
  // read, or waiting unread on its connection, or on a connection not yet accepted) is then
  // answered before Run returns, within the stop timeout. False when the library would not
  // start or waiting on the sockets failed.
  // `after_pass`, when given, is called on the same thread after each pass over the connections
  // that called the handler, so that work the handler gathered starts in one piece.
  bool Run(Handler handler, std::function<void()> after_pass = {});

  // Called from any thread, before Run or during it: ends Run as above.
  void Stop();

  struct Loop;  // the state of Run, shared with the library's callbacks

 private:
  HttpOptions options_;
  int listen_fd_ = -1;
  std::unique_ptr<Wake> wake_;  // written by Stop and by answers from other threads
  std::atomic<bool> stop_requested_ = false;
};

}  // namespace scores
