// http_server.cpp -- the score server's connections: libmicrohttpd's epoll loop run on our own
// thread, and the few rules and deadlines the library leaves to us.
//
// The loop is ours, not the library's internal thread, so that whatever we decide about a
// connection from outside the library (its head is late, the server stops and it has nothing
// more to answer) is decided between two passes of the library, while it holds the connection
// still; from another thread each such decision would race with its reading.
#include "http_server.h"

#include <linux/tcp.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_set>

namespace scores {
namespace {

using Clock = std::chrono::steady_clock;

// Each connection's memory in the library: its head, the header fields as parsed, the head of
// its answer. Enough for a head at both limits; over 32 KB the library maps it on its own, so
// it goes back to the system the moment the connection closes.
constexpr std::size_t kConnectionMemory = 48 * 1024;
// How often the head deadlines are looked at; they are seconds long. A head still coming in
// pieces this long after its connection began to wait is read once a tick from then on.
constexpr auto kDeadlineTick = std::chrono::milliseconds(100);
constexpr auto kSlowHead = std::chrono::milliseconds(200);
constexpr std::uint64_t kSlowLineTicks = 10;
// Files kept for everything but connections: the database's files for each of its connections,
// the loop's own, the standard streams.
constexpr rlim_t kSpareFiles = 32;
// Answers this small are kept once made, up to this many different ones, the least lately used
// making way: the routes' fixed texts ("stored", a validation's reason) are far fewer.
constexpr std::size_t kFixedAnswerBytes = 256;
constexpr std::size_t kFixedAnswers = 64;

// Raises the limit on open files to what connections need, as far as the hard limit allows,
// and returns how many connections fit under it. Beyond that number new clients wait in the
// kernel's queue rather than be accepted and dropped for want of a file.
std::size_t FitConnections(std::size_t wanted) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return wanted;
  rlim_t needed = wanted + kSpareFiles;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? needed : std::min(needed, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= needed) return wanted;
  return limit.rlim_cur > 2 * kSpareFiles ? static_cast<std::size_t>(limit.rlim_cur - kSpareFiles)
                                          : std::max<std::size_t>(limit.rlim_cur / 2, 4);
}

std::uint64_t BytesReceived(int fd) {
  tcp_info info{};
  socklen_t length = sizeof info;
  if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return 0;
  return info.tcpi_bytes_received;
}

std::size_t Unread(int fd) {
  int bytes = 0;
  return ioctl(fd, FIONREAD, &bytes) == 0 && bytes > 0 ? static_cast<std::size_t>(bytes) : 0;
}

Response Refusal(int status) {
  Response response;
  response.status = status;
  response.content_type = "text/plain; charset=utf-8";
  switch (status) {
    case 413:
      response.body = "request body too large for this address\n";
      break;
    case 414:
      response.body = "request line too long\n";
      break;
    case 431:
      response.body = "request header fields too long\n";
      break;
    case 503:
      response.body = "the server is stopping, try again later\n";
      break;
    default:
      response.body = "malformed request\n";
  }
  // The rest of what the client sent is not read: the connection closes after the answer.
  response.headers.emplace_back("Connection", "close");
  return response;
}

constexpr char kTimeoutAnswer[] =
    "HTTP/1.1 408 Request Timeout\r\nContent-Type: text/plain; charset=utf-8\r\n"
    "Content-Length: 36\r\nConnection: close\r\n\r\nthe request took too long to arrive\n";

}  // namespace

// How answers from other threads wake the loop: through its eventfd, and only while it sleeps
// or is about to; a loop that is busy finds the resumed connections at its next pass.
struct Wake {
  int fd = -1;
  std::atomic<bool> sleeping = false;  // set before the loop waits, cleared after
  std::atomic<bool> resumed = false;   // a connection was resumed since the loop last ran
  void Notify() {
    resumed = true;
    if (sleeping) {
      std::uint64_t one = 1;
      [[maybe_unused]] ssize_t written = write(fd, &one, sizeof one);
    }
  }
};

// One request from its request line to its answer. The loop thread fills the request; the
// answer may come from any thread, so what they share is under the mutex.
struct Exchange {
  std::mutex mutex;
  MHD_Connection* connection = nullptr;
  Wake* wake = nullptr;  // the loop's
  std::optional<Response> response;
  bool suspended = false;  // waiting for an answer from another thread
  bool closed = false;     // the library is done with the connection's request

  // The loop thread's own.
  std::string target;               // as sent, cut at a NUL by the library
  const char* target_at = nullptr;  // where it starts in the library's copy of the head
  Request request;
  std::size_t body_limit = 0;
  bool head_checked = false;
  bool dispatched = false;
};

// Hands the answer over; returns the loop to wake when the connection was waiting for it.
Wake* Answer::Deliver(Response response) const {
  std::lock_guard lock(exchange_->mutex);
  if (exchange_->response || exchange_->closed) return nullptr;
  exchange_->response = std::move(response);
  // While the handler still runs, it queues the answer itself when it returns.
  if (!exchange_->suspended) return nullptr;
  exchange_->suspended = false;
  MHD_resume_connection(exchange_->connection);
  return exchange_->wake;
}

void Answer::Send(Response response) const {
  if (Wake* wake = Deliver(std::move(response))) wake->Notify();
}

void Answer::SendAll(std::vector<std::pair<Answer, Response>> answers) {
  // A batch wakes its loop once, not once an answer.
  Wake* last = nullptr;
  for (auto& [answer, response] : answers) {
    Wake* wake = answer.Deliver(std::move(response));
    if (wake != nullptr && wake != last) {
      if (last != nullptr) last->Notify();
      last = wake;
    }
  }
  if (last != nullptr) last->Notify();
}

// What the loop knows of one connection, from its opening to its close.
struct Socket {
  MHD_Connection* connection = nullptr;
  int fd = -1;
  Clock::time_point waiting_since;  // when its current head began to be awaited
  // The bytes of the requests read whole so far. Beyond them, what the socket has received is
  // the start of another: counted rather than asked of the socket after every request.
  std::uint64_t consumed = 0;
  bool recount = false;    // a chunked body's framing is not counted: ask at its end
  bool line_read = false;  // the current request's line has come
  bool head_read = false;  // its whole head has come; it is answered or being answered
  bool timed_out = false;
  // Its head comes in pieces: the library does not watch it, and reads it once a tick.
  bool throttled = false;
  Exchange* exchange = nullptr;  // the current request's, from its line to its end
};

struct HttpServer::Loop {
  const HttpOptions& options;
  Handler handler;
  std::function<void()> after_pass;
  Wake* wake;
  MHD_Daemon* daemon = nullptr;
  bool handled = false;  // the handler was called in this pass
  std::unordered_set<Socket*> sockets;
  // Small answers made lately, each sent as it is to every connection that gets the same one:
  // the routes' fixed texts ("stored") are made once, one-off answers (a replay's number) make
  // way for them as the least lately used.
  struct MadeAnswer {
    Response response;
    MHD_Response* answer;
    std::uint64_t last_used;
  };
  std::vector<MadeAnswer> made;
  std::uint64_t queued_small = 0;  // small answers queued so far, as a clock for `made`

  static void OnConnection(void* cls, MHD_Connection* connection, void** context,
                           MHD_ConnectionNotificationCode code) {
    auto* loop = static_cast<Loop*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      auto* socket = new Socket;
      socket->connection = connection;
      socket->fd =
          MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd;
      socket->waiting_since = Clock::now();
      loop->sockets.insert(socket);
      *context = socket;
    } else {
      auto* socket = static_cast<Socket*>(*context);
      loop->sockets.erase(socket);
      delete socket;
    }
  }

  static Socket* SocketOf(MHD_Connection* connection) {
    return static_cast<Socket*>(
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)->socket_context);
  }

  // Called by the library once a request line has come, with its target as sent: the one
  // moment the target is seen before the library decodes it in place.
  static void* OnRequestLine(void* cls, const char* uri, MHD_Connection* connection) {
    auto* holder = new std::shared_ptr<Exchange>(std::make_shared<Exchange>());
    Exchange& exchange = **holder;
    exchange.connection = connection;
    exchange.wake = static_cast<Loop*>(cls)->wake;
    if (uri != nullptr) {
      exchange.target = uri;
      exchange.target_at = uri;
    }
    Socket* socket = SocketOf(connection);
    socket->line_read = true;
    socket->exchange = &exchange;
    return holder;
  }

  static void OnCompleted(void*, MHD_Connection* connection, void** context,
                          MHD_RequestTerminationCode) {
    auto* holder = static_cast<std::shared_ptr<Exchange>*>(*context);
    if (holder == nullptr) return;
    {
      std::lock_guard lock((*holder)->mutex);
      (*holder)->closed = true;
    }
    delete holder;
    *context = nullptr;
    Socket* socket = SocketOf(connection);
    socket->exchange = nullptr;
    socket->line_read = socket->head_read = false;
    socket->waiting_since = Clock::now();
    if (socket->recount) socket->consumed = BytesReceived(socket->fd);
    socket->recount = false;
  }

  static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char*,
                              const char* method, const char* version, const char* upload,
                              std::size_t* upload_size, void** context) {
    auto* loop = static_cast<Loop*>(cls);
    auto* holder = static_cast<std::shared_ptr<Exchange>*>(*context);
    if (holder == nullptr) return MHD_NO;
    Exchange& exchange = **holder;
    bool first = !exchange.head_checked;
    if (first) {
      exchange.head_checked = true;
      SocketOf(connection)->head_read = true;
      if (int status = loop->Check(connection, exchange, method, version)) {
        return loop->Queue(connection, Refusal(status));
      }
    }
    if (exchange.dispatched) {
      // Resumed: the answer has come from another thread.
      std::optional<Response> response;
      {
        std::lock_guard lock(exchange.mutex);
        response.swap(exchange.response);
      }
      return response ? loop->Queue(connection, std::move(*response)) : MHD_NO;
    }
    if (*upload_size > 0) {
      if (exchange.request.body.size() + *upload_size > exchange.body_limit) {
        return loop->Queue(connection, Refusal(413));
      }
      SocketOf(connection)->consumed += *upload_size;
      exchange.request.body.append(upload, *upload_size);
      *upload_size = 0;
      return MHD_YES;
    }
    // The library calls once for the head, then for each part of a body, then once more at its
    // end: the request is handled then. (An answer queued on the first call would make the
    // library close the connection after it, dropping any request pipelined behind.)
    if (first) return MHD_YES;
    exchange.dispatched = true;
    loop->handled = true;
    loop->handler(exchange.request, Answer(*holder));
    std::lock_guard lock(exchange.mutex);
    if (exchange.response) {
      Response response = std::move(*exchange.response);
      exchange.response.reset();
      return loop->Queue(connection, std::move(response));
    }
    exchange.suspended = true;
    MHD_suspend_connection(connection);
    return MHD_YES;
  }

  static bool HasBody(MHD_Connection* connection) {
    const char* length =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    return MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                       MHD_HTTP_HEADER_TRANSFER_ENCODING) != nullptr ||
           (length != nullptr && std::strspn(length, "0") != std::strlen(length));
  }

  // The head's checks, and the body's limit from its method and target. 0 when it may go on.
  int Check(MHD_Connection* connection, Exchange& exchange, const char* method,
            const char* version) {
    if (exchange.target_at == nullptr) return 400;
    // The library read the request line in place: the method starts it, the target follows
    // after one space and the version after another. Where a NUL cut the method or the target
    // short, or more spaces stood between them, the distances say so.
    Head head;
    const char* line = method;
    if (!(line < exchange.target_at && exchange.target_at < version)) return 400;
    head.method = std::string_view(line, static_cast<std::size_t>(exchange.target_at - 1 - line));
    std::string cut;  // the target with the NUL that cut it, when one did
    head.target = exchange.target;
    if (exchange.target_at + exchange.target.size() + 1 != version) {
      cut = exchange.target + '\0';
      head.target = cut;
    }
    head.version = version;
    head.line_bytes = static_cast<std::size_t>(version - line) + std::strlen(version);
    const MHD_ConnectionInfo* size =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
    std::size_t head_bytes = size != nullptr ? size->header_size : 0;
    head.field_bytes = head_bytes > head.line_bytes ? head_bytes - head.line_bytes : 0;
    Socket* socket = SocketOf(connection);
    socket->consumed += head_bytes;
    head.fields.reserve(8);
    MHD_get_connection_values_n(
        connection, MHD_HEADER_KIND,
        [](void* fields, MHD_ValueKind, const char* key, std::size_t key_size, const char* value,
           std::size_t value_size) {
          static_cast<decltype(head.fields)*>(fields)->emplace_back(
              std::string_view(key, key_size), std::string_view(value, value_size));
          return MHD_YES;
        },
        &head.fields);
    if (int status = CheckHead(head)) return status;

    exchange.request.method = method;
    exchange.request.target =
        exchange.target.starts_with('/') ? std::move(exchange.target) : OriginForm(exchange.target);
    for (const auto& [name, value] : head.fields) {
      if (name.size() == std::strlen(MHD_HTTP_HEADER_IF_NONE_MATCH) &&
          strncasecmp(name.data(), MHD_HTTP_HEADER_IF_NONE_MATCH, name.size()) == 0) {
        exchange.request.if_none_match = value;
      } else if (name.size() == std::strlen(MHD_HTTP_HEADER_RANGE) &&
                 strncasecmp(name.data(), MHD_HTTP_HEADER_RANGE, name.size()) == 0) {
        exchange.request.range = value;
      }
    }
    if (exchange.request.target.empty()) return 400;
    exchange.body_limit = options.body_limit ? options.body_limit(exchange.request) : 0;
    if (HasBody(connection)) {
      socket->recount = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                    MHD_HTTP_HEADER_TRANSFER_ENCODING) != nullptr;
      const char* length =
          MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
      if (exchange.body_limit == 0 ||
          (length != nullptr && std::strtoull(length, nullptr, 10) > exchange.body_limit)) {
        return 413;
      }
    }
    return 0;
  }

  MHD_Result Queue(MHD_Connection* connection, Response response) {
    auto status = static_cast<unsigned>(response.status);
    if (response.shared_body || response.body.size() > kFixedAnswerBytes) {
      MHD_Response* answer = Make(std::move(response));
      if (answer == nullptr) return MHD_NO;
      MHD_Result queued = MHD_queue_response(connection, status, answer);
      MHD_destroy_response(answer);
      return queued;
    }
    ++queued_small;
    MadeAnswer* oldest = nullptr;
    for (MadeAnswer& made_one : made) {
      const Response& key = made_one.response;
      if (key.body == response.body && key.status == response.status &&
          key.content_type == response.content_type && key.headers == response.headers) {
        made_one.last_used = queued_small;
        return MHD_queue_response(connection, status, made_one.answer);
      }
      if (oldest == nullptr || made_one.last_used < oldest->last_used) oldest = &made_one;
    }
    Response key = response;
    MHD_Response* answer = Make(std::move(response));
    if (answer == nullptr) return MHD_NO;
    // The list keeps a reference of its own; the answer lives on in any connection still
    // sending it when it leaves the list.
    if (made.size() < kFixedAnswers) {
      made.push_back({std::move(key), answer, queued_small});
    } else {
      MHD_destroy_response(oldest->answer);
      *oldest = {std::move(key), answer, queued_small};
    }
    return MHD_queue_response(connection, status, answer);
  }

  static MHD_Response* Make(Response response) {
    auto* body = new std::shared_ptr<const std::string>(
        response.shared_body ? std::move(response.shared_body)
                             : std::make_shared<const std::string>(std::move(response.body)));
    MHD_Response* answer = MHD_create_response_from_buffer_with_free_callback_cls(
        (*body)->size(), const_cast<char*>((*body)->data()),
        [](void* held) { delete static_cast<std::shared_ptr<const std::string>*>(held); }, body);
    if (answer == nullptr) {
      delete body;
      return nullptr;
    }
    if (!response.content_type.empty()) {
      MHD_add_response_header(answer, MHD_HTTP_HEADER_CONTENT_TYPE, response.content_type.c_str());
    }
    for (const auto& [name, value] : response.headers) {
      MHD_add_response_header(answer, name.c_str(), value.c_str());
    }
    // An HTTP/1.0 client that asked to keep the connection is told that it is kept.
    MHD_set_response_options(answer, MHD_RF_SEND_KEEP_ALIVE_HEADER, MHD_RO_END);
    return answer;
  }

  // Called once a tick, right after a pass that read every throttled connection. A connection
  // whose head is late is closed, with a 408 when part of a request had come: written here,
  // past the library, since no answer of the library's is under way on it; the library then
  // finds the connection shut and closes it. One whose head still comes in pieces goes on
  // being read, but once a tick rather than at every piece: a client that sends its head a
  // byte at a time would otherwise cost the loop a wake-up and a read for each byte.
  // `tick` counts the calls: a connection whose request line has not come yet is asked for the
  // bytes it received once in kSlowLineTicks, so that idle connections cost next to nothing.
  void CheckHeads(Clock::time_point now, bool throttle, std::uint64_t tick) {
    for (Socket* socket : sockets) {
      if (socket->head_read || socket->timed_out) continue;
      auto waited = now - socket->waiting_since;
      if (waited >= options.request_timeout) {
        socket->timed_out = true;
        if (socket->line_read || BytesReceived(socket->fd) > socket->consumed) {
          [[maybe_unused]] ssize_t sent = send(
              socket->fd, kTimeoutAnswer, sizeof kTimeoutAnswer - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        shutdown(socket->fd, SHUT_RDWR);
        // The library must see it shut to close it.
        if (socket->throttled) {
          socket->throttled = false;
          MHD_resume_connection(socket->connection);
        }
      } else if (throttle && !socket->throttled && waited >= kSlowHead &&
                 (socket->line_read ||
                  ((tick + static_cast<std::uint64_t>(socket->fd)) % kSlowLineTicks == 0 &&
                   BytesReceived(socket->fd) > socket->consumed))) {
        // Between two passes the library holds the connection still, as in a handler.
        socket->throttled = true;
        MHD_suspend_connection(socket->connection);
      }
    }
  }

  // Hands the throttled connections back to the library, which reads what came meanwhile:
  // every one, or (`all` false, at a tick) those with something to read, its end included. A
  // look at the socket is far cheaper than a turn through the library for nothing.
  void Unthrottle(bool all) {
    for (Socket* socket : sockets) {
      if (!socket->throttled) continue;
      char byte;
      if (!all && recv(socket->fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) < 0 &&
          (errno == EAGAIN || errno == EWOULDBLOCK)) {
        continue;
      }
      socket->throttled = false;
      MHD_resume_connection(socket->connection);
    }
  }

  // True once no connection has anything left to answer: no request begun, nothing unread.
  bool Quiet() const {
    return std::none_of(sockets.begin(), sockets.end(), [](const Socket* socket) {
      return socket->line_read || socket->head_read || Unread(socket->fd) > 0;
    });
  }

  // One pass of the library over whatever is ready.
  void Pass() {
    MHD_run(daemon);
    if (handled && after_pass) after_pass();
    handled = false;
  }

  // When Run ends (at the stop's deadline, or on a failure): answers still awaited from other
  // threads are given up.
  void GiveUpWaiting() {
    for (Socket* socket : sockets) {
      if (socket->exchange == nullptr || !socket->exchange->dispatched) continue;
      Exchange& exchange = *socket->exchange;
      std::lock_guard lock(exchange.mutex);
      if (!exchange.response) exchange.response = Refusal(503);
      if (exchange.suspended) {
        exchange.suspended = false;
        MHD_resume_connection(exchange.connection);
      }
    }
  }
};

HttpServer::HttpServer(HttpOptions options) : options_(std::move(options)) {
  options_.max_connections = FitConnections(options_.max_connections);
  wake_ = std::make_unique<Wake>();
  wake_->fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

HttpServer::~HttpServer() {
  if (listen_fd_ >= 0) close(listen_fd_);
  if (wake_->fd >= 0) close(wake_->fd);
}

int HttpServer::Bind(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return 0;
  int bound = 0;
  for (addrinfo* a = found; a != nullptr && bound == 0; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    // SO_REUSEADDR allows a quick restart while old connections linger in TIME_WAIT. Not
    // SO_REUSEPORT: that would let a second server share the port, and its connections, silently.
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      listen_fd_ = fd;
      bound =
          ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    } else {
      close(fd);
    }
  }
  freeaddrinfo(found);
  return bound;
}

void HttpServer::Stop() {
  stop_requested_ = true;
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(wake_->fd, &one, sizeof one);
}

bool HttpServer::Run(Handler handler, std::function<void()> after_pass) {
  if (listen_fd_ < 0 || wake_->fd < 0) return false;
  Loop loop{options_, std::move(handler), std::move(after_pass), wake_.get(), nullptr, false, {},
            {}};
  auto timeout_seconds = static_cast<unsigned>(std::max<long long>(
      1, std::chrono::ceil<std::chrono::seconds>(options_.request_timeout).count()));
  loop.daemon = MHD_start_daemon(
      MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr, &Loop::OnRequest, &loop,
      MHD_OPTION_LISTEN_SOCKET, listen_fd_, MHD_OPTION_CONNECTION_LIMIT,
      static_cast<unsigned>(options_.max_connections), MHD_OPTION_PER_IP_CONNECTION_LIMIT,
      static_cast<unsigned>(options_.max_connections_per_address),
      // The library's own timeout closes a connection silent both ways; the head's deadline,
      // which a client sending a byte now and then cannot put off, is ours.
      MHD_OPTION_CONNECTION_TIMEOUT, timeout_seconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      kConnectionMemory, MHD_OPTION_URI_LOG_CALLBACK, &Loop::OnRequestLine, &loop,
      MHD_OPTION_NOTIFY_COMPLETED, &Loop::OnCompleted, &loop, MHD_OPTION_NOTIFY_CONNECTION,
      &Loop::OnConnection, &loop, MHD_OPTION_END);
  if (loop.daemon == nullptr) return false;
  // The library closes the listening socket when it stops, unless it was handed back first.
  int listening = listen_fd_;
  listen_fd_ = -1;
  int outer = epoll_create1(EPOLL_CLOEXEC);
  const MHD_DaemonInfo* inner = MHD_get_daemon_info(loop.daemon, MHD_DAEMON_INFO_EPOLL_FD);
  epoll_event library_event{EPOLLIN, {.u32 = 0}};
  epoll_event wake_event{EPOLLIN, {.u32 = 1}};
  bool ok = outer >= 0 && inner != nullptr &&
            epoll_ctl(outer, EPOLL_CTL_ADD, inner->epoll_fd, &library_event) == 0 &&
            epoll_ctl(outer, EPOLL_CTL_ADD, wake_->fd, &wake_event) == 0;
  bool stopping = false;
  Clock::time_point stop_deadline;
  auto next_check = Clock::now() + kDeadlineTick;
  std::uint64_t ticks = 0;
  while (ok) {
    MHD_UNSIGNED_LONG_LONG library_wait = 0;
    bool library_waits = MHD_get_timeout(loop.daemon, &library_wait) == MHD_YES;
    long long wait = library_waits ? static_cast<long long>(library_wait) : -1;
    // With no connection there is no deadline to keep, and an idle server sleeps.
    if (!loop.sockets.empty() || stopping) {
      long long tick = std::chrono::duration_cast<std::chrono::milliseconds>(kDeadlineTick).count();
      wait = wait < 0 ? tick : std::min(wait, tick);
    }
    epoll_event events[2];
    int count = 0;
    // When the library has more to do at once, it is not asked to wait for anything first.
    if (wait != 0) {
      // Sleeping is said before the last look at what was resumed, and an answer says it
      // resumed before looking whether the loop sleeps: one of the two always sees the other.
      wake_->sleeping = true;
      if (wake_->resumed) wait = 0;
      count = epoll_wait(outer, events, 2, static_cast<int>(wait));
      wake_->sleeping = false;
    }
    if (count < 0 && errno != EINTR) {
      ok = false;
      break;
    }
    for (int i = 0; i < count; ++i) {
      if (events[i].data.u32 == 1) {
        std::uint64_t value;
        [[maybe_unused]] ssize_t got = read(wake_->fd, &value, sizeof value);
      }
    }
    bool stop = stop_requested_;
    std::size_t open = loop.sockets.size();
    // Whatever was resumed until now, this pass serves.
    wake_->resumed = false;
    loop.Pass();
    // The library takes its listening socket back into its epoll set only at the start of a
    // pass: one that closed connections at the limit is followed by another, or the clients
    // waiting in the kernel's queue would wait for the next event.
    if (loop.sockets.size() < open) loop.Pass();
    auto now = Clock::now();
    if (stop && !stopping) {
      stopping = true;
      loop.Unthrottle(true);
      stop_deadline = now + options_.stop_timeout;
      // Clients that connected before the stop are taken from the kernel's queue and read like
      // the others; nothing after that is taken.
      if (MHD_quiesce_daemon(loop.daemon) == listening) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        int fd;
        while ((fd = accept4(listening, reinterpret_cast<sockaddr*>(&address), &length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0) {
          MHD_add_connection(loop.daemon, fd, reinterpret_cast<sockaddr*>(&address), length);
          length = sizeof address;
        }
        close(listening);
      }
      loop.Pass();
      continue;
    }
    if (now >= next_check) {
      loop.Unthrottle(false);
      loop.Pass();
      // While stopping nothing is held back: every request already sent is read.
      loop.CheckHeads(now, !stopping, ++ticks);
      next_check = now + kDeadlineTick;
    }
    if (stopping) {
      // Only between passes that left the library nothing to do at once.
      bool library_idle =
          MHD_get_timeout(loop.daemon, &library_wait) != MHD_YES || library_wait > 0;
      if (library_idle && loop.Quiet()) break;
      if (now >= stop_deadline) break;
    }
  }
  if (outer >= 0) close(outer);
  // Closes every connection left: with nothing to answer, or past the stop's deadline. The
  // library must hold none suspended then, or it aborts.
  loop.GiveUpWaiting();
  loop.Unthrottle(true);
  MHD_stop_daemon(loop.daemon);
  for (auto& made : loop.made) MHD_destroy_response(made.answer);
  return ok;
}

}  // namespace scores
