// http_server.cpp -- accepting, reading, answering and closing the score server's connections.
#include "http_server.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>

namespace scores {
namespace {

constexpr std::uint64_t kListenId = 0;
constexpr std::uint64_t kWakeId = 1;
// A connection's unread bytes never pass this: one head at its limits, and room for the start
// of the next. Nothing is read past it until requests are taken out.
constexpr std::size_t kInputCap = kMaxRequestLine + kMaxHeaderBytes + 1024;
// Pipelined requests handed over but not yet answered, and answer bytes not yet taken by the
// client, before the connection is read no further: a client that sends and never reads costs
// a bounded amount of memory.
constexpr std::size_t kMaxInFlight = 8;
constexpr std::size_t kMaxUnsent = 64 * 1024;
// After its last answer a connection shuts its sending side and reads until the client closes,
// for at most this long: closing at once with unread bytes would reset the connection, which
// can destroy the answer before the client reads it.
constexpr auto kLinger = std::chrono::seconds(2);
// How often deadlines are looked at; they are seconds long, so this much late does not matter.
constexpr auto kDeadlineTick = std::chrono::milliseconds(100);

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 413:
      return "Content Too Large";
    case 414:
      return "URI Too Long";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Error";
  }
}

// The body of an answer the connection itself gives, for a request it would not read.
const char* RefusalText(int status) {
  switch (status) {
    case 408:
      return "the request took too long to arrive\n";
    case 413:
      return "this server takes no request body\n";
    case 414:
      return "request line too long\n";
    case 431:
      return "request header fields too long\n";
    case 505:
      return "only HTTP/1.0 and HTTP/1.1 are spoken here\n";
    default:
      return "malformed request\n";
  }
}

// Raises the limit on open files to what connections need, as far as the hard limit allows,
// and returns how many connections fit under it (some files are kept for the database).
std::size_t FitConnections(std::size_t wanted) {
  constexpr rlim_t kSpare = 64;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return wanted;
  rlim_t needed = wanted + kSpare;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? needed : std::min(needed, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= needed) return wanted;
  return limit.rlim_cur > 2 * kSpare ? static_cast<std::size_t>(limit.rlim_cur - kSpare) : 16;
}

}  // namespace

struct HttpServer::Connection {
  struct Slot {
    std::uint64_t sequence;
    bool head;    // a HEAD request: its answer goes without its body
    bool http10;  // an HTTP/1.0 client must be told the connection stays open
    bool ready = false;
    Response response;
  };

  std::uint64_t id;
  int fd;
  std::string in;          // received, not yet taken as requests
  std::deque<Slot> slots;  // requests handed over, in order, with their answers once ready
  std::uint64_t next_sequence = 0;
  std::string out;         // answers being written
  std::size_t sent = 0;    // of `out`
  bool closing = false;    // no further request is read; the last answer closes
  bool lingering = false;  // answered and shut for sending; reading to the client's close
  bool peer_done = false;  // the client has shut its sending side
  // When the connection began to wait (accepted, or its last answer written, or lingering)
  // or last wrote a byte: its deadlines count from here.
  Clock::time_point since;
  std::uint32_t events = 0;  // what epoll watches for it now

  bool Idle() const { return slots.empty() && sent == out.size(); }
};

void Answer::Send(Response response) const {
  std::vector<std::pair<Answer, Response>> one;
  one.emplace_back(*this, std::move(response));
  server_->Complete(std::move(one));
}

void Answer::SendAll(std::vector<std::pair<Answer, Response>> answers) {
  if (!answers.empty()) answers.front().first.server_->Complete(std::move(answers));
}

HttpServer::HttpServer(HttpOptions options) : options_(options), scratch_(64 * 1024) {
  options_.max_connections = FitConnections(options_.max_connections);
  epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

HttpServer::~HttpServer() {
  for (auto& [id, c] : connections_) close(c->fd);
  if (listen_fd_ >= 0) close(listen_fd_);
  if (wake_fd_ >= 0) close(wake_fd_);
  if (epoll_fd_ >= 0) close(epoll_fd_);
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
  {
    std::lock_guard lock(completed_mutex_);
    stop_requested_ = true;
  }
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(wake_fd_, &one, sizeof one);
}

void HttpServer::Complete(std::vector<std::pair<Answer, Response>> answers) {
  bool wake;
  {
    std::lock_guard lock(completed_mutex_);
    if (completed_.empty()) {
      completed_.swap(answers);
    } else {
      for (auto& answer : answers) completed_.push_back(std::move(answer));
    }
    wake = sleeping_;
    sleeping_ = false;
  }
  // Only a server asleep in epoll needs waking, and only once: one that is awake looks at what
  // was handed over before it sleeps again.
  if (wake) {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(wake_fd_, &one, sizeof one);
  }
}

bool HttpServer::Run(Handler handler) {
  handler_ = std::move(handler);
  epoll_event listen_event{EPOLLIN, {.u64 = kListenId}};
  epoll_event wake_event{EPOLLIN, {.u64 = kWakeId}};
  if (epoll_fd_ < 0 || wake_fd_ < 0 || listen_fd_ < 0 ||
      epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, listen_fd_, &listen_event) != 0 ||
      epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &wake_event) != 0) {
    return false;
  }
  bool ok = true;
  auto next_check = Clock::now() + kDeadlineTick;
  epoll_event events[256];
  for (;;) {
    bool pending;
    {
      std::lock_guard lock(completed_mutex_);
      pending = !completed_.empty() || (stop_requested_ && !stopping_);
      sleeping_ = !pending;
    }
    // With no connection there is no deadline to keep, and an idle server sleeps.
    int timeout = pending ? 0 : connections_.empty() && !stopping_ ? -1 : 100;
    int count = epoll_wait(epoll_fd_, events, 256, timeout);
    {
      std::lock_guard lock(completed_mutex_);
      sleeping_ = false;
    }
    if (count < 0 && errno != EINTR) {
      ok = false;
      break;
    }
    for (int i = 0; i < count; ++i) {
      std::uint64_t id = events[i].data.u64;
      std::uint32_t what = events[i].events;
      if (id == kListenId) {
        AcceptSome();
      } else if (id == kWakeId) {
        std::uint64_t value;
        [[maybe_unused]] ssize_t got = read(wake_fd_, &value, sizeof value);
      } else {
        if (!connections_.contains(id)) continue;  // closed earlier in this round
        if (what & EPOLLERR) {
          Close(id);
          continue;
        }
        if (what & EPOLLIN) OnReadable(id);
        if ((what & EPOLLOUT) && connections_.contains(id)) Flush(id);
        if ((what & EPOLLHUP) && connections_.contains(id)) Close(id);
      }
    }
    while (TakeCompleted()) {
    }
    bool stop;
    {
      std::lock_guard lock(completed_mutex_);
      stop = stop_requested_;
    }
    if (stop && !stopping_) BeginStop();
    auto now = Clock::now();
    if (now >= next_check) {
      CheckDeadlines(now);
      next_check = now + kDeadlineTick;
    }
    if (stopping_) {
      bool answers_due = std::any_of(connections_.begin(), connections_.end(),
                                     [](const auto& entry) { return !entry.second->Idle(); });
      if (!answers_due || now >= stop_deadline_) break;
    }
  }
  for (auto& [id, c] : connections_) close(c->fd);
  connections_.clear();
  return ok;
}

std::size_t HttpServer::AcceptSome() {
  std::size_t accepted = 0;
  // A bounded number per round, so a flood of connections cannot starve those already open.
  while (accepted < 64) {
    if (connections_.size() >= options_.max_connections && !MakeRoom()) {
      PauseAccepting(true);
      break;
    }
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      // Out of files: a connection must close before another can come in.
      if ((errno == EMFILE || errno == ENFILE) && !MakeRoom()) PauseAccepting(true);
      break;
    }
    // Answers are written whole; nothing is gained by holding back a short one.
    int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    auto c = std::make_unique<Connection>();
    c->id = next_id_++;
    c->fd = fd;
    c->since = Clock::now();
    c->events = EPOLLIN;
    epoll_event event{c->events, {.u64 = c->id}};
    if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &event) != 0) {
      close(fd);
      break;
    }
    connections_.emplace(c->id, std::move(c));
    ++accepted;
  }
  return accepted;
}

// The connection that has waited longest without a request in progress makes way for a new
// one; one that is being answered is never cut. False when every connection is busy.
bool HttpServer::MakeRoom() {
  Connection* oldest = nullptr;
  for (auto& [id, c] : connections_) {
    if (c->Idle() && (oldest == nullptr || c->since < oldest->since)) oldest = c.get();
  }
  if (oldest == nullptr) return false;
  Close(oldest->id);
  return true;
}

void HttpServer::PauseAccepting(bool paused) {
  if (paused == accepting_paused_ || listen_fd_ < 0) return;
  accepting_paused_ = paused;
  epoll_event event{paused ? 0u : static_cast<std::uint32_t>(EPOLLIN), {.u64 = kListenId}};
  epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, listen_fd_, &event);
}

void HttpServer::OnReadable(std::uint64_t id) {
  Connection& c = *connections_.at(id);
  std::size_t room = c.lingering ? scratch_.size() : kInputCap - c.in.size();
  if (room == 0) return;
  ssize_t got = recv(c.fd, scratch_.data(), std::min(room, scratch_.size()), 0);
  if (got < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) Close(id);
    return;
  }
  if (got == 0) {
    c.peer_done = true;
    // A request cut off by the close is dropped; those already read are still answered.
    if (c.lingering || c.Idle()) {
      Close(id);
    } else {
      c.in.clear();
      Watch(c);
    }
    return;
  }
  if (c.lingering) return;  // read only to reach the client's close
  c.in.append(scratch_.data(), static_cast<std::size_t>(got));
  ReadRequests(c);
  Flush(id);
}

void HttpServer::ReadRequests(Connection& c) {
  std::size_t used = 0;
  while (!c.closing && c.slots.size() < kMaxInFlight && c.out.size() - c.sent < kMaxUnsent) {
    HeadReading reading = ReadRequestHead(std::string_view(c.in).substr(used));
    if (reading.outcome == HeadReading::Outcome::kIncomplete) break;
    if (reading.outcome == HeadReading::Outcome::kRefused) {
      Refuse(c, reading.status);
      break;
    }
    used += reading.length;
    std::uint64_t sequence = c.next_sequence++;
    c.slots.push_back({sequence, reading.head.method == "HEAD", reading.head.http10, false, {}});
    if (!reading.head.keep_alive) c.closing = true;
    handler_(Request{std::move(reading.head.method), std::move(reading.head.target)},
             Answer(this, c.id, sequence));
  }
  c.in.erase(0, used);
  // A waiting connection keeps no buffer of its own.
  if (c.in.empty() && c.in.capacity() > 1024) std::string().swap(c.in);
  Watch(c);
}

// An answer of the connection's own to what it will not read, after which it closes.
void HttpServer::Refuse(Connection& c, int status) {
  Connection::Slot slot{c.next_sequence++, false, false, true, {}};
  slot.response.status = status;
  slot.response.content_type = "text/plain; charset=utf-8";
  slot.response.body = RefusalText(status);
  c.slots.push_back(std::move(slot));
  c.closing = true;
  c.in.clear();
}

bool HttpServer::TakeCompleted() {
  std::vector<std::pair<Answer, Response>> taken;
  {
    std::lock_guard lock(completed_mutex_);
    taken.swap(completed_);
  }
  std::vector<std::uint64_t> touched;
  for (auto& [answer, response] : taken) {
    auto found = connections_.find(answer.connection_);
    if (found == connections_.end()) continue;
    Connection& c = *found->second;
    if (c.slots.empty() || answer.sequence_ < c.slots.front().sequence) continue;
    std::size_t index = answer.sequence_ - c.slots.front().sequence;
    if (index >= c.slots.size()) continue;
    c.slots[index].response = std::move(response);
    c.slots[index].ready = true;
    if (touched.empty() || touched.back() != c.id) touched.push_back(c.id);
  }
  for (std::uint64_t id : touched) {
    if (connections_.contains(id)) Flush(id);
  }
  return !taken.empty();
}

namespace {

void Serialize(const Response& response, bool head, bool http10, bool close, std::string& out) {
  out += "HTTP/1.1 ";
  out += std::to_string(response.status);
  out += ' ';
  out += Reason(response.status);
  out += "\r\n";
  if (!response.content_type.empty()) {
    out += "Content-Type: ";
    out += response.content_type;
    out += "\r\n";
  }
  out += "Content-Length: ";
  out += std::to_string(response.body.size());
  out += "\r\n";
  for (const auto& [name, value] : response.headers) {
    out += name;
    out += ": ";
    out += value;
    out += "\r\n";
  }
  if (close) {
    out += "Connection: close\r\n";
  } else if (http10) {
    out += "Connection: keep-alive\r\n";
  }
  out += "\r\n";
  if (!head) out += response.body;
}

}  // namespace

void HttpServer::Flush(std::uint64_t id) {
  Connection& c = *connections_.at(id);
  bool answered = false;
  while (!c.slots.empty() && c.slots.front().ready) {
    const Connection::Slot& slot = c.slots.front();
    Serialize(slot.response, slot.head, slot.http10, c.closing && c.slots.size() == 1, c.out);
    c.slots.pop_front();
    answered = true;
  }
  if (c.sent < c.out.size()) {
    ssize_t wrote = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
    if (wrote < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      Close(id);
      return;
    }
    if (wrote > 0) {
      c.sent += static_cast<std::size_t>(wrote);
      c.since = Clock::now();
      if (c.sent == c.out.size()) {
        c.out.clear();
        c.sent = 0;
        if (c.out.capacity() > 16 * 1024) std::string().swap(c.out);
      }
    }
  }
  if (c.Idle() && c.closing) {
    Linger(c);
    return;
  }
  if (c.Idle() && c.peer_done) {
    Close(id);
    return;
  }
  // Requests held back while answers were due may be read now.
  if (answered && !c.closing && !c.in.empty()) ReadRequests(c);
  Watch(c);
}

void HttpServer::Linger(Connection& c) {
  if (c.peer_done || stopping_) {
    Close(c.id);
    return;
  }
  shutdown(c.fd, SHUT_WR);
  c.lingering = true;
  c.in.clear();
  c.since = Clock::now();
  Watch(c);
}

void HttpServer::Watch(Connection& c) {
  std::uint32_t events = 0;
  bool wants_requests = !c.closing && !c.peer_done && c.slots.size() < kMaxInFlight &&
                        c.out.size() - c.sent < kMaxUnsent && c.in.size() < kInputCap;
  if (c.lingering || wants_requests) events |= EPOLLIN;
  if (c.sent < c.out.size()) events |= EPOLLOUT;
  if (events == c.events) return;
  c.events = events;
  epoll_event event{events, {.u64 = c.id}};
  epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, c.fd, &event);
}

void HttpServer::Close(std::uint64_t id) {
  auto found = connections_.find(id);
  if (found == connections_.end()) return;
  close(found->second->fd);  // which also takes it out of epoll
  connections_.erase(found);
  if (!stopping_) PauseAccepting(false);
}

void HttpServer::CheckDeadlines(Clock::time_point now) {
  std::vector<std::uint64_t> late;
  for (auto& [id, c] : connections_) {
    if (c->lingering) {
      if (now - c->since > kLinger) late.push_back(id);
    } else if (c->sent < c->out.size()) {
      if (now - c->since > options_.write_timeout) late.push_back(id);
    } else if (c->slots.empty() && now - c->since > options_.request_timeout) {
      late.push_back(id);
    }
  }
  for (std::uint64_t id : late) {
    Connection& c = *connections_.at(id);
    // A request begun and not finished in time is told so; a connection that sent nothing of
    // its next request, or is past telling, just closes.
    if (!c.lingering && !c.closing && c.Idle() && !c.in.empty()) {
      Refuse(c, 408);
      Flush(id);
    } else {
      Close(id);
    }
  }
}

void HttpServer::BeginStop() {
  stopping_ = true;
  stop_deadline_ = Clock::now() + options_.stop_timeout;
  // Clients that connected and sent before the stop are read once more and answered; nothing
  // after that is taken.
  if (listen_fd_ >= 0) {
    PauseAccepting(false);
    while (AcceptSome() > 0) {
    }
    close(listen_fd_);
    listen_fd_ = -1;
  }
  std::vector<std::uint64_t> ids;
  for (auto& [id, c] : connections_) ids.push_back(id);
  for (std::uint64_t id : ids) {
    auto found = connections_.find(id);
    if (found == connections_.end()) continue;
    Connection& c = *found->second;
    if (!c.lingering && !c.closing && !c.peer_done) OnReadable(id);
    found = connections_.find(id);
    if (found == connections_.end()) continue;
    found->second->closing = true;
    if (found->second->Idle()) {
      Close(id);
    } else {
      Watch(*found->second);
    }
  }
}

}  // namespace scores
