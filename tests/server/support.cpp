// support.cpp -- helpers for the score server's tests.
#include "support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace scores::test {

TempDir::TempDir() {
  char name[] = "/tmp/qv-scores-XXXXXX";
  if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = name;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string Encode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

std::string SubmissionPath(int level, const std::string& score, const std::string& name,
                           const std::string& email, const std::string& password) {
  return "/scores/quorvane.php?password=" + Encode(password) + "&level=" + std::to_string(level) +
         "&score=" + Encode(score) + "&name=" + Encode(name) + "&email=" + Encode(email);
}

RunningServer::RunningServer(ScoreStore& store, HttpOptions options)
    : server_(options), routes_(std::make_unique<Routes>(store)) {
  signal(SIGPIPE, SIG_IGN);
  port_ = server_.Bind("127.0.0.1", 0);
  if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
  thread_ = std::thread([this] {
    server_.Run(
        [this](const Request& request, Answer answer) { routes_->Handle(request, answer); });
  });
  client_ = std::make_unique<httplib::Client>(LocalClient(port_));
  client_->set_keep_alive(true);
}

RunningServer::~RunningServer() {
  client_.reset();
  server_.Stop();
  thread_.join();
  routes_.reset();
}

httplib::Client LocalClient(int port) {
  httplib::Client client("127.0.0.1", port);
  client.set_url_encode(false);
  return client;
}

Reply RunningServer::Get(const std::string& path) {
  auto result = client_->Get(path);
  if (!result) return {};
  return {result->status, result->body, {}};
}

namespace {

sqlite3* OpenRaw(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + path);
  }
  return db;
}

}  // namespace

std::vector<StoredRow> SqliteRows(const std::string& path) {
  sqlite3* db = OpenRaw(path);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT level, score, name, email, received_at FROM scores"
                     " ORDER BY level, score, name, email",
                     -1, &stmt, nullptr);
  std::vector<StoredRow> rows;
  while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
    StoredRow row;
    row.level = sqlite3_column_int(stmt, 0);
    row.score = sqlite3_column_int(stmt, 1);
    row.name.assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2)),
                    static_cast<std::size_t>(sqlite3_column_bytes(stmt, 2)));
    row.email.assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3)),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt, 3)));
    row.received_at = sqlite3_column_int64(stmt, 4);
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  if (stmt == nullptr) throw std::runtime_error("no scores table in " + path);
  return rows;
}

void SqliteExecute(const std::string& path, const std::string& statement) {
  sqlite3* db = OpenRaw(path);
  char* error = nullptr;
  int rc = sqlite3_exec(db, statement.c_str(), nullptr, nullptr, &error);
  std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error(statement + ": " + message);
}

namespace {

// The newest PostgreSQL server programs Debian installed, or "" when there are none.
std::string FindPgBin() {
  if (const char* bin = std::getenv("QV_PG_BIN")) return bin;
  std::string best;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ignored)) {
    auto bin = entry.path() / "bin";
    if (std::filesystem::exists(bin / "initdb") && bin.string() > best) best = bin.string();
  }
  return best;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

}  // namespace

PgCluster::PgCluster() {
  bin_ = FindPgBin();
  if (bin_.empty()) {
    throw std::runtime_error(
        "PostgreSQL's server programs (initdb, pg_ctl) are not installed: apt-get install "
        "postgresql, or set QV_PG_BIN to their folder");
  }
  if (geteuid() == 0) {
    passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) throw std::runtime_error("no user nobody to run PostgreSQL as");
    if (chown(dir_.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
      throw std::runtime_error("cannot hand the cluster folder to nobody");
    }
    as_user_ = "runuser -u nobody -- ";
  }
  Run(bin_ + "/initdb -D " + Quote(dir_.path() / "data") +
      " -A trust -U quorvane -E UTF8 --locale=C --no-sync");
  Start();
}

PgCluster::~PgCluster() {
  std::system((as_user_ + bin_ + "/pg_ctl -D " + Quote(dir_.path() / "data") +
               " -m immediate stop >/dev/null 2>&1")
                  .c_str());
}

void PgCluster::Run(const std::string& command) {
  std::string log = dir_.path() / "command.log";
  int rc = std::system((as_user_ + command + " >" + Quote(log) + " 2>&1").c_str());
  if (rc != 0) throw std::runtime_error("failed: " + command + "\n" + ReadFile(log));
}

void PgCluster::Start() {
  // fsync off: the tests do not survive power cuts and need not pay for it.
  Run(bin_ + "/pg_ctl -D " + Quote(dir_.path() / "data") + " -l " +
      Quote(dir_.path() / "server.log") + " -w -t 30 -o \"-k " + dir_.path().string() +
      " -c listen_addresses='' -F\" start");
}

void PgCluster::Stop() {
  Run(bin_ + "/pg_ctl -D " + Quote(dir_.path() / "data") + " -m fast -w stop");
}

std::string PgCluster::Url(const std::string& database) const {
  return "postgresql:///" + database + "?host=" + dir_.path().string() + "&user=quorvane";
}

std::string PgCluster::NewDatabase() {
  std::string name = "scores_" + std::to_string(++databases_);
  Execute(Url("postgres"), "CREATE DATABASE " + name);
  return Url(name);
}

namespace {

PGconn* ConnectRaw(const std::string& url) {
  PGconn* conn = PQconnectdb(url.c_str());
  if (PQstatus(conn) != CONNECTION_OK) {
    std::string message = PQerrorMessage(conn);
    PQfinish(conn);
    throw std::runtime_error("cannot connect to " + url + ": " + message);
  }
  return conn;
}

}  // namespace

std::vector<StoredRow> PgCluster::Rows(const std::string& url) {
  PGconn* conn = ConnectRaw(url);
  PGresult* result = PQexec(conn,
                            "SELECT level, score, name, email, received_at FROM scores"
                            " ORDER BY level, score, name COLLATE \"C\", email COLLATE \"C\"");
  bool ok = PQresultStatus(result) == PGRES_TUPLES_OK;
  std::vector<StoredRow> rows;
  for (int i = 0; ok && i < PQntuples(result); ++i) {
    StoredRow row;
    row.level = std::atoi(PQgetvalue(result, i, 0));
    row.score = std::atoi(PQgetvalue(result, i, 1));
    row.name = PQgetvalue(result, i, 2);
    row.email = PQgetvalue(result, i, 3);
    row.received_at = std::atoll(PQgetvalue(result, i, 4));
    rows.push_back(std::move(row));
  }
  std::string message = PQerrorMessage(conn);
  PQclear(result);
  PQfinish(conn);
  if (!ok) throw std::runtime_error("cannot read scores: " + message);
  return rows;
}

void PgCluster::Execute(const std::string& url, const std::string& statement) {
  PGconn* conn = ConnectRaw(url);
  PGresult* result = PQexec(conn, statement.c_str());
  bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
  std::string message = PQerrorMessage(conn);
  PQclear(result);
  PQfinish(conn);
  if (!ok) throw std::runtime_error(statement + ": " + message);
}

RawClient::RawClient(int port) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd_ >= 0) close(fd_);
    throw std::runtime_error("cannot connect to port " + std::to_string(port));
  }
  // A server that stops reading fails the test rather than hanging it.
  timeval limit{10, 0};
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

RawClient::~RawClient() { close(fd_); }

bool RawClient::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

namespace {

// Waits for bytes on fd and appends them; false when none come in time or the peer closed.
bool ReadMore(int fd, std::string& into, std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  pollfd wait{fd, POLLIN, 0};
  if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0) return false;
  char buffer[65536];
  ssize_t got = recv(fd, buffer, sizeof buffer, 0);
  if (got <= 0) return false;
  into.append(buffer, static_cast<std::size_t>(got));
  return true;
}

}  // namespace

Reply RawClient::Read(bool head, std::chrono::milliseconds within) {
  auto deadline = std::chrono::steady_clock::now() + within;
  std::size_t end;
  while ((end = pending_.find("\r\n\r\n")) == std::string::npos) {
    if (!ReadMore(fd_, pending_, deadline)) return {};
  }
  Reply answer;
  answer.headers = pending_.substr(0, end + 4);
  answer.status = std::atoi(answer.headers.substr(answer.headers.find(' ') + 1).c_str());
  std::size_t length = 0;
  if (std::size_t at = answer.headers.find("Content-Length: "); at != std::string::npos) {
    length = std::stoul(answer.headers.substr(at + 16));
  }
  if (head) length = 0;
  while (pending_.size() < end + 4 + length) {
    if (!ReadMore(fd_, pending_, deadline)) return {};
  }
  answer.body = pending_.substr(end + 4, length);
  pending_.erase(0, end + 4 + length);
  return answer;
}

bool RawClient::ClosedWithin(std::chrono::milliseconds within) {
  auto deadline = std::chrono::steady_clock::now() + within;
  while (ReadMore(fd_, pending_, deadline)) {
  }
  char byte;  // the end of the stream, or a reset, is still there to be read; silence is not
  ssize_t got = recv(fd_, &byte, 1, MSG_DONTWAIT);
  return got == 0 || (got < 0 && errno != EAGAIN);
}

Program::Program(const std::vector<std::string>& args, bool as_nobody, int open_files) {
  // setpriv and prlimit change the user or the limit and run the program in their own place,
  // so pid_ is the program's.
  std::vector<std::string> words;
  if (passwd* nobody = getpwnam("nobody"); as_nobody && geteuid() == 0 && nobody != nullptr) {
    words = {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
             "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups", "--"};
  }
  if (open_files > 0) {
    std::string limit = std::to_string(open_files);
    words.insert(words.end(), {"prlimit", "--nofile=" + limit + ":" + limit, "--"});
  }
  const char* other = std::getenv("QV_SCORES_PROGRAM");
  words.push_back(other != nullptr && *other != '\0' ? other : QV_SCORES_PATH);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, (dir_.path() / "out").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, (dir_.path() / "err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int rc = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error(std::string("cannot start ") + argv[0]);
}

Program::~Program() {
  if (!Reaped(false)) {
    kill(pid_, SIGKILL);
    Reaped(true);
  }
}

bool Program::Reaped(bool block) {
  if (!reaped_ && waitpid(pid_, &status_, block ? 0 : WNOHANG) == pid_) reaped_ = true;
  return reaped_;
}

std::optional<int> Program::WaitForPort(std::chrono::milliseconds within) {
  auto deadline = std::chrono::steady_clock::now() + within;
  const std::string marker = "listening on ";
  while (std::chrono::steady_clock::now() < deadline) {
    std::string out = Output();
    std::size_t at = out.find(marker);
    std::size_t end = at == std::string::npos ? at : out.find(' ', at + marker.size());
    if (end != std::string::npos) {
      std::string address = out.substr(at + marker.size(), end - at - marker.size());
      return std::atoi(address.substr(address.rfind(':') + 1).c_str());
    }
    if (Reaped(false)) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

void Program::Signal(int signal) { kill(pid_, signal); }

std::optional<int> Program::Wait(std::chrono::milliseconds within) {
  auto deadline = std::chrono::steady_clock::now() + within;
  while (!Reaped(false) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!reaped_ || !WIFEXITED(status_)) return std::nullopt;
  return WEXITSTATUS(status_);
}

std::string Program::Output() const { return ReadFile(dir_.path() / "out"); }

std::string Program::Errors() const { return ReadFile(dir_.path() / "err"); }

std::int64_t Program::PeakMemory() const {
  std::string status = ReadFile("/proc/" + std::to_string(pid_) + "/status");
  std::size_t at = status.find("VmHWM:");
  return at == std::string::npos ? 0 : std::atoll(status.c_str() + at + 6) * 1024;
}

std::int64_t Program::Memory() const {
  std::string status = ReadFile("/proc/" + std::to_string(pid_) + "/status");
  std::size_t at = status.find("VmRSS:");
  return at == std::string::npos ? 0 : std::atoll(status.c_str() + at + 6) * 1024;
}

std::int64_t Program::LoopCpuTime() const {
  return std::atoll(ReadFile("/proc/" + std::to_string(pid_) + "/schedstat").c_str());
}

int Program::OpenSockets() const {
  std::error_code ignored;
  auto files =
      std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", ignored);
  return static_cast<int>(std::distance(begin(files), end(files)));
}

Finished RunProgram(const std::vector<std::string>& args, bool as_nobody) {
  Program program(args, as_nobody);
  Finished finished;
  finished.status = program.Wait(std::chrono::seconds(30));
  finished.out = program.Output();
  finished.err = program.Errors();
  return finished;
}

}  // namespace scores::test
