// support.h -- helpers for the score server's tests: temporary folders, a server on a free
// loopback port, a temporary PostgreSQL cluster, and the real program as a child process.
#pragma once

#include <httplib.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "http_server.h"
#include "routes.h"
#include "store.h"

namespace scores::test {

// A fresh folder under /tmp, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// Percent-encodes every byte but RFC 3986's unreserved ones, as the game does.
std::string Encode(std::string_view text);

// The submission URL for these values, keys in the game's order.
std::string SubmissionPath(int level, const std::string& score, const std::string& name,
                           const std::string& email, const std::string& password = "417bqwtn58");

struct Reply {
  int status = 0;  // 0 when no answer came
  std::string body;
  std::string headers;  // the whole head, from a RawClient only
};

// A client of 127.0.0.1:port that sends each path exactly as the test wrote it.
httplib::Client LocalClient(int port);

// The routes of the program on a store, served from this process on 127.0.0.1 and a free port,
// with the program's connection settings unless others are given.
class RunningServer {
 public:
  explicit RunningServer(ScoreStore& store, HttpOptions options = {});
  RunningServer(const RunningServer&) = delete;
  RunningServer& operator=(const RunningServer&) = delete;
  ~RunningServer();
  int port() const { return port_; }
  Reply Get(const std::string& path);

 private:
  HttpServer server_;
  std::unique_ptr<Routes> routes_;
  int port_ = 0;
  std::thread thread_;
  std::unique_ptr<httplib::Client> client_;
};

// One row of the scores table, read with a query of the test's own.
struct StoredRow {
  int level = 0;
  int score = 0;
  std::string name;
  std::string email;
  std::int64_t received_at = 0;
};

// Raw access to a SQLite file, past the store.
std::vector<StoredRow> SqliteRows(const std::string& path);
void SqliteExecute(const std::string& path, const std::string& statement);

// A PostgreSQL cluster in a temporary folder, listening only on a unix socket there. As root,
// the cluster runs as the unprivileged user nobody, since PostgreSQL refuses to run as root.
class PgCluster {
 public:
  // Throws std::runtime_error, naming what is missing, when PostgreSQL's programs are not
  // installed or the cluster does not start.
  PgCluster();
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;
  ~PgCluster();

  // A postgresql:// URL of a database in this cluster.
  std::string Url(const std::string& database) const;
  // Creates a new empty database and returns its URL.
  std::string NewDatabase();
  std::vector<StoredRow> Rows(const std::string& url);
  void Execute(const std::string& url, const std::string& statement);
  void Stop();
  void Start();

 private:
  void Run(const std::string& command);
  TempDir dir_;
  std::string bin_;
  std::string as_user_;  // "runuser -u nobody -- " when running as root
  int databases_ = 0;
};

// A client on a plain socket, for what an HTTP library will not send: pipelined requests, heads
// cut anywhere, a head that never ends.
class RawClient {
 public:
  explicit RawClient(int port);  // connects to 127.0.0.1:port; throws when it cannot
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  ~RawClient();
  // Sends all of it; false when the connection fails first.
  bool Send(std::string_view bytes);
  // The socket, for a test that tunes it.
  int fd() const { return fd_; }
  // Reads one answer (its body too, unless it answers a HEAD); status 0 when none came whole
  // within the time or the connection ended.
  Reply Read(bool head = false, std::chrono::milliseconds within = std::chrono::seconds(5));
  // True when the server closes the connection within the time, once any answer is read.
  bool ClosedWithin(std::chrono::milliseconds within);

 private:
  int fd_ = -1;
  std::string pending_;  // read past the last answer
};

// The real program (QV_SCORES_PROGRAM in the environment names another build of it, to run
// these tests against), started with arguments, its standard output and error going to files.
// When the tests run as root it may be run as the unprivileged user nobody, for whom file
// permissions hold; `open_files` > 0 sets its limit on open files.
class Program {
 public:
  explicit Program(const std::vector<std::string>& args, bool as_nobody = false,
                   int open_files = 0);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program();  // kills it if still running

  // Waits for the "listening on HOST:PORT" line and returns the port, or nullopt when the
  // program ends first or `within` passes.
  std::optional<int> WaitForPort(std::chrono::milliseconds within = std::chrono::seconds(10));
  void Signal(int signal);
  // The exit status, or nullopt when the program is still running after `within` (or was
  // ended by a signal).
  std::optional<int> Wait(std::chrono::milliseconds within);
  // What it has written to standard output and standard error so far.
  std::string Output() const;
  std::string Errors() const;
  // The most memory it has held so far (its resident set's high-water mark), and what it holds
  // now, in bytes.
  std::int64_t PeakMemory() const;
  std::int64_t Memory() const;
  // The processor time its main thread, which serves the connections, has used, in nanoseconds.
  std::int64_t LoopCpuTime() const;
  // How many sockets it has open.
  int OpenSockets() const;

 private:
  bool Reaped(bool block);
  TempDir dir_;
  pid_t pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
};

// Runs the program to its end and returns its exit status, with its output.
struct Finished {
  std::optional<int> status;
  std::string out;
  std::string err;
};
Finished RunProgram(const std::vector<std::string>& args, bool as_nobody = false);

}  // namespace scores::test
