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
// How often the head deadlines are looked at; they are seconds long.
constexpr auto kDeadlineTick = std::chrono::milliseconds(100);
// Files kept for everything but connections: the database's files for each of its connections,
// the loop's own, the standard streams.
constexpr rlim_t kSpareFiles = 32;

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

// One request from its request line to its answer. The loop thread fills the request; the
// answer may come from any thread, so what they share is under the mutex.
struct Exchange {
  std::mutex mutex;
  MHD_Connection* connection = nullptr;
  int wake_fd = -1;  // the loop's
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

void Answer::Send(Response response) const {
  std::lock_guard lock(exchange_->mutex);
  if (exchange_->response || exchange_->closed) return;
  exchange_->response = std::move(response);
  // While the handler still runs, it queues the answer itself when it returns.
  if (exchange_->suspended) {
    exchange_->suspended = false;
    MHD_resume_connection(exchange_->connection);
    // The library's own wake-up is lost when it comes while the loop is in a pass that has
    // already looked for resumed connections; the loop's is looked at after every pass.
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(exchange_->wake_fd, &one, sizeof one);
  }
}

void Answer::SendAll(std::vector<std::pair<Answer, Response>> answers) {
  for (auto& [answer, response] : answers) answer.Send(std::move(response));
}

// What the loop knows of one connection, from its opening to its close.
struct Socket {
  int fd = -1;
  Clock::time_point waiting_since;  // when its current head began to be awaited
  std::uint64_t received_then = 0;  // the bytes it had received by then
  bool line_read = false;           // the current request's line has come
  bool head_read = false;           // its whole head has come; it is answered or being answered
  bool timed_out = false;
};

struct HttpServer::Loop {
  const HttpOptions& options;
  Handler handler;
  int wake_fd;
  MHD_Daemon* daemon = nullptr;
  std::unordered_set<Socket*> sockets;
  std::unordered_set<Exchange*> waiting;  // suspended for an answer from another thread

  static void OnConnection(void* cls, MHD_Connection* connection, void** context,
                           MHD_ConnectionNotificationCode code) {
    auto* loop = static_cast<Loop*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      auto* socket = new Socket;
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
    exchange.wake_fd = static_cast<Loop*>(cls)->wake_fd;
    if (uri != nullptr) {
      exchange.target = uri;
      exchange.target_at = uri;
    }
    SocketOf(connection)->line_read = true;
    return holder;
  }

  static void OnCompleted(void* cls, MHD_Connection* connection, void** context,
                          MHD_RequestTerminationCode) {
    auto* holder = static_cast<std::shared_ptr<Exchange>*>(*context);
    if (holder == nullptr) return;
    {
      std::lock_guard lock((*holder)->mutex);
      (*holder)->closed = true;
    }
    static_cast<Loop*>(cls)->waiting.erase(holder->get());
    delete holder;
    *context = nullptr;
    Socket* socket = SocketOf(connection);
    socket->line_read = socket->head_read = false;
    socket->waiting_since = Clock::now();
    socket->received_then = BytesReceived(socket->fd);
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
        return Queue(connection, Refusal(status));
      }
    }
    if (exchange.dispatched) {
      // Resumed: the answer has come from another thread.
      std::optional<Response> response;
      {
        std::lock_guard lock(exchange.mutex);
        response.swap(exchange.response);
      }
      return response ? Queue(connection, std::move(*response)) : MHD_NO;
    }
    if (*upload_size > 0) {
      if (exchange.request.body.size() + *upload_size > exchange.body_limit) {
        return Queue(connection, Refusal(413));
      }
      exchange.request.body.append(upload, *upload_size);
      *upload_size = 0;
      return MHD_YES;
    }
    // The library calls once for the head, then for each part of a body, then once more at its
    // end: the request is handled then. (An answer queued on the first call would make the
    // library close the connection after it, dropping any request pipelined behind.)
    if (first) return MHD_YES;
    exchange.dispatched = true;
    loop->handler(exchange.request, Answer(*holder));
    std::lock_guard lock(exchange.mutex);
    if (exchange.response) {
      Response response = std::move(*exchange.response);
      exchange.response.reset();
      return Queue(connection, std::move(response));
    }
    exchange.suspended = true;
    loop->waiting.insert(&exchange);
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
    std::string target = exchange.target;
    if (exchange.target_at + target.size() + 1 != version) target.push_back('\0');
    head.target = target;
    head.version = version;
    head.line_bytes = static_cast<std::size_t>(version - line) + std::strlen(version);
    const MHD_ConnectionInfo* size =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
    std::size_t head_bytes = size != nullptr ? size->header_size : 0;
    head.field_bytes = head_bytes > head.line_bytes ? head_bytes - head.line_bytes : 0;
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
    exchange.request.target = OriginForm(exchange.target);
    for (const auto& [name, value] : head.fields) {
      if (name.size() == std::strlen(MHD_HTTP_HEADER_IF_NONE_MATCH) &&
          strncasecmp(name.data(), MHD_HTTP_HEADER_IF_NONE_MATCH, name.size()) == 0) {
        exchange.request.if_none_match = value;
      }
    }
    if (exchange.request.target.empty()) return 400;
    exchange.body_limit = options.body_limit ? options.body_limit(exchange.request) : 0;
    if (HasBody(connection)) {
      const char* length =
          MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
      if (exchange.body_limit == 0 ||
          (length != nullptr && std::strtoull(length, nullptr, 10) > exchange.body_limit)) {
        return 413;
      }
    }
    return 0;
  }

  static MHD_Result Queue(MHD_Connection* connection, Response response) {
    auto* body = new std::shared_ptr<const std::string>(
        response.shared_body ? std::move(response.shared_body)
                             : std::make_shared<const std::string>(std::move(response.body)));
    MHD_Response* answer = MHD_create_response_from_buffer_with_free_callback_cls(
        (*body)->size(), const_cast<char*>((*body)->data()),
        [](void* held) { delete static_cast<std::shared_ptr<const std::string>*>(held); }, body);
    if (answer == nullptr) {
      delete body;
      return MHD_NO;
    }
    if (!response.content_type.empty()) {
      MHD_add_response_header(answer, MHD_HTTP_HEADER_CONTENT_TYPE, response.content_type.c_str());
    }
    for (const auto& [name, value] : response.headers) {
      MHD_add_response_header(answer, name.c_str(), value.c_str());
    }
    // An HTTP/1.0 client that asked to keep the connection is told that it is kept.
    MHD_set_response_options(answer, MHD_RF_SEND_KEEP_ALIVE_HEADER, MHD_RO_END);
    MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(response.status), answer);
    MHD_destroy_response(answer);
    return queued;
  }

  // A connection whose head is late is closed, with a 408 when part of a request had come.
  // Written here, past the library, since no answer of the library's is under way on it; the
  // library then finds the connection shut and closes it.
  void CheckDeadlines(Clock::time_point now) {
    for (Socket* socket : sockets) {
      if (socket->head_read || socket->timed_out ||
          now - socket->waiting_since < options.request_timeout) {
        continue;
      }
      socket->timed_out = true;
      if (socket->line_read || BytesReceived(socket->fd) > socket->received_then) {
        [[maybe_unused]] ssize_t sent = send(socket->fd, kTimeoutAnswer, sizeof kTimeoutAnswer - 1,
                                             MSG_NOSIGNAL | MSG_DONTWAIT);
      }
      shutdown(socket->fd, SHUT_RDWR);
    }
  }

  // True once no connection has anything left to answer: no request begun, nothing unread.
  bool Quiet() const {
    return std::none_of(sockets.begin(), sockets.end(), [](const Socket* socket) {
      return socket->line_read || socket->head_read || Unread(socket->fd) > 0;
    });
  }

  // At the stop's deadline: answers still awaited from other threads are given up.
  void GiveUpWaiting() {
    for (Exchange* exchange : waiting) {
      std::lock_guard lock(exchange->mutex);
      if (!exchange->response) exchange->response = Refusal(503);
      if (exchange->suspended) {
        exchange->suspended = false;
        MHD_resume_connection(exchange->connection);
      }
    }
  }
};

HttpServer::HttpServer(HttpOptions options) : options_(std::move(options)) {
  options_.max_connections = FitConnections(options_.max_connections);
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

HttpServer::~HttpServer() {
  if (listen_fd_ >= 0) close(listen_fd_);
  if (wake_fd_ >= 0) close(wake_fd_);
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
  [[maybe_unused]] ssize_t written = write(wake_fd_, &one, sizeof one);
}

bool HttpServer::Run(Handler handler) {
  if (listen_fd_ < 0 || wake_fd_ < 0) return false;
  Loop loop{options_, std::move(handler), wake_fd_, nullptr, {}, {}};
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
            epoll_ctl(outer, EPOLL_CTL_ADD, wake_fd_, &wake_event) == 0;
  bool stopping = false;
  Clock::time_point stop_deadline;
  auto next_check = Clock::now() + kDeadlineTick;
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
    int count = epoll_wait(outer, events, 2, static_cast<int>(wait));
    if (count < 0 && errno != EINTR) {
      ok = false;
      break;
    }
    for (int i = 0; i < count; ++i) {
      if (events[i].data.u32 == 1) {
        std::uint64_t value;
        [[maybe_unused]] ssize_t got = read(wake_fd_, &value, sizeof value);
      }
    }
    bool stop = stop_requested_;
    std::size_t open = loop.sockets.size();
    MHD_run(loop.daemon);
    // The library takes its listening socket back into its epoll set only at the start of a
    // pass: one that closed connections at the limit is followed by another, or the clients
    // waiting in the kernel's queue would wait for the next event.
    if (loop.sockets.size() < open) MHD_run(loop.daemon);
    auto now = Clock::now();
    if (stop && !stopping) {
      stopping = true;
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
      MHD_run(loop.daemon);
      continue;
    }
    if (now >= next_check) {
      loop.CheckDeadlines(now);
      next_check = now + kDeadlineTick;
    }
    if (stopping) {
      // Only between passes that left the library nothing to do at once.
      bool library_idle =
          MHD_get_timeout(loop.daemon, &library_wait) != MHD_YES || library_wait > 0;
      if (library_idle && loop.Quiet()) break;
      if (now >= stop_deadline) {
        loop.GiveUpWaiting();
        break;
      }
    }
  }
  if (outer >= 0) close(outer);
  // Closes every connection left: with nothing to answer, or past the stop's deadline.
  MHD_stop_daemon(loop.daemon);
  return ok;
}

}  // namespace scores
