// main.cpp -- quorvane-scores: options, opening the store, listening, and stopping on a signal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "http_server.h"
#include "platform/paths.h"
#include "play_files.h"
#include "replay_desk.h"
#include "replay_store.h"
#include "routes.h"
#include "store.h"

namespace {

constexpr const char* kDefaultListen = "127.0.0.1:8080";
constexpr const char* kDefaultDb = "quorvane-scores.db";

constexpr const char* kUsage =
    "Usage: quorvane-scores [--listen HOST:PORT] [--db FILE|URL] [--sounds DIR]\n"
    "                       [--checkers N] [--play DIR] [--count]\n"
    "\n"
    "The QuorVane score server. It takes the game's submissions at\n"
    "GET /scores/quorvane.php and shows the leaderboard at GET /scores/ (as JSON with\n"
    "/scores/?format=json). It takes each game's replay at POST /scores/replays, runs\n"
    "it again with the game's own code, and marks the score it makes as verified. It\n"
    "serves the game for web browsers at /play/.\n"
    "\n"
    "  --listen HOST:PORT  address to listen on (default 127.0.0.1:8080; port 0 takes\n"
    "                      any free port; the address in use is printed at start)\n"
    "  --db FILE           SQLite database file, created when missing (default\n"
    "                      quorvane-scores.db in the current folder); kept in WAL mode\n"
    "                      with synchronous=NORMAL\n"
    "  --db URL            a postgresql:// or postgres:// URL: keep the scores in\n"
    "                      PostgreSQL instead, so that several servers share them\n"
    "  --sounds DIR        the game's sounds, which replays are checked and heard with\n"
    "                      (default: the installed game's, share/quorvane/sounds)\n"
    "  --checkers N        threads checking replays (default 2; 0: leave them to other\n"
    "                      servers on the same PostgreSQL database)\n"
    "  --play DIR          the browser version's folder (scripts/web's play/), served\n"
    "                      at /play/ (default " QV_PLAY_DIR
    ")\n"
    "  --count             print how many submissions are stored, then exit\n"
    "  --version           print the version, then exit\n"
    "  --help              show this text, then exit\n"
    "\n"
    "SIGTERM or SIGINT stops the server once every request it has received is answered.\n"
    "Exit status: 0 stopped, 1 the database or the address cannot be used, 2 bad usage.\n";

struct Options {
  std::string host = "127.0.0.1";
  int port = 8080;
  std::string db = kDefaultDb;
  std::string sounds = qv::FindSoundsDir();
  int checkers = 2;
  std::string play = QV_PLAY_DIR;
  bool count = false;
  bool help = false;
  bool version = false;
};

// HOST:PORT, HOST possibly an IPv6 address in brackets. False when it does not parse.
bool ParseListen(const std::string& text, Options& options) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  std::string host = text.substr(0, colon);
  if (host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  std::string port = text.substr(colon + 1);
  if (host.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != port.npos) {
    return false;
  }
  int value = std::stoi(port);
  if (value > 65535) return false;
  options.host = host;
  options.port = value;
  return true;
}

// Nullopt and a message on stderr for bad usage.
std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool has_value = false;
    if (std::size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      has_value = true;
    }
    auto take_value = [&]() -> bool {
      if (has_value) return true;
      if (i + 1 >= argc) return false;
      value = argv[++i];
      return true;
    };
    if (arg == "--help" && !has_value) {
      options.help = true;
    } else if (arg == "--version" && !has_value) {
      options.version = true;
    } else if (arg == "--count" && !has_value) {
      options.count = true;
    } else if (arg == "--listen") {
      if (!take_value() || !ParseListen(value, options)) {
        std::cerr << "quorvane-scores: --listen needs HOST:PORT, e.g. " << kDefaultListen << "\n";
        return std::nullopt;
      }
    } else if (arg == "--sounds") {
      if (!take_value() || value.empty()) {
        std::cerr << "quorvane-scores: --sounds needs a folder\n";
        return std::nullopt;
      }
      options.sounds = value;
    } else if (arg == "--checkers") {
      if (!take_value() || value.empty() || value.size() > 2 ||
          value.find_first_not_of("0123456789") != std::string::npos) {
        std::cerr << "quorvane-scores: --checkers needs a number from 0 to 99\n";
        return std::nullopt;
      }
      options.checkers = std::stoi(value);
    } else if (arg == "--db") {
      if (!take_value() || value.empty()) {
        std::cerr << "quorvane-scores: --db needs a file name or a postgresql:// URL\n";
        return std::nullopt;
      }
      options.db = value;
    } else if (arg == "--play") {
      if (!take_value() || value.empty()) {
        std::cerr << "quorvane-scores: --play needs the folder of the browser version\n";
        return std::nullopt;
      }
      options.play = value;
    } else {
      std::cerr << "quorvane-scores: unknown argument " << argv[i] << "\n";
      return std::nullopt;
    }
  }
  return options;
}

// Runs on its own thread from before listening until the server has stopped. A signal handler
// may do almost nothing safely, so SIGTERM and SIGINT stay blocked in every thread and arrive
// here through a signalfd; wake_fd tells the thread that the server ended by itself.
void WatchForStop(scores::HttpServer& server, int signal_fd, int wake_fd) {
  pollfd fds[] = {{signal_fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
  while (poll(fds, 2, -1) < 0) {
  }
  if (!(fds[0].revents & POLLIN)) return;
  signalfd_siginfo info;
  if (read(signal_fd, &info, sizeof info) != sizeof info) return;
  std::cout << "quorvane-scores: stopping on signal " << info.ssi_signo << std::endl;
  server.Stop();
}

int Serve(const Options& options) {
  // Before any thread exists, so every thread inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  // A client that hangs up early must not kill the server when it is written to.
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<scores::ScoreStore> store;
  std::unique_ptr<scores::ReplayStore> replays;
  try {
    store = scores::OpenStore(options.db);
    replays = scores::OpenReplayStore(options.db);
  } catch (const scores::StoreError& error) {
    std::cerr << "quorvane-scores: " << error.what() << std::endl;
    return 1;
  }
  if (options.count) {
    try {
      std::cout << store->Count() << std::endl;
      return 0;
    } catch (const scores::StoreError& error) {
      std::cerr << "quorvane-scores: " << error.what() << std::endl;
      return 1;
    }
  }

  scores::HttpOptions http;
  http.body_limit = scores::BodyLimit;
  scores::HttpServer server(http);
  int port = server.Bind(options.host, options.port);
  if (port == 0) {
    std::cerr << "quorvane-scores: cannot listen on " << options.host << ":" << options.port
              << " (address in use or not available)" << std::endl;
    return 1;
  }

  int signal_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC);
  int wake[2];
  if (signal_fd < 0 || pipe2(wake, O_CLOEXEC) != 0) {
    std::cerr << "quorvane-scores: cannot watch for signals" << std::endl;
    return 1;
  }
  std::thread watcher(WatchForStop, std::ref(server), signal_fd, wake[0]);

  // Read once, before the first request: a folder without the game leaves /play/ at 404.
  const scores::PlayFiles play(options.play);
  std::cout << "quorvane-scores: listening on " << options.host << ":" << port << " ("
            << (scores::IsPostgresUrl(options.db) ? "PostgreSQL" : "SQLite file " + options.db)
            << ")" << std::endl;
  if (play.empty()) {
    std::cout << "quorvane-scores: " << play.why() << ": /play/ is not served" << std::endl;
  } else {
    std::cout << "quorvane-scores: the game for web browsers at /play/, from " << options.play
              << std::endl;
  }
  // Without the game's sounds every replay would play back wrong and be refused: they wait in
  // the queue instead, for this server with its sounds back or for another server.
  int checkers = options.checkers;
  std::error_code missing;
  if (checkers > 0 && !std::filesystem::exists(options.sounds + "/intro.wav", missing)) {
    std::cout << "quorvane-scores: no game sounds in " << options.sounds
              << ": replays are kept, not checked" << std::endl;
    checkers = 0;
  } else if (checkers > 0) {
    std::cout << "quorvane-scores: checking replays with the sounds in " << options.sounds
              << std::endl;
  }
  bool clean;
  {
    // The checkers write to the store only; the routes' threads answer through the server, so
    // they end before it does.
    char host[256] = "local";
    gethostname(host, sizeof host - 1);
    scores::ReplayDesk desk(*replays, {options.sounds, checkers, 10, 7200000,
                                       std::string(host) + ":" + std::to_string(getpid())});
    scores::Routes routes(*store, replays.get(), &desk, &play);
    // Returns after a stop, once every request already received is answered.
    clean = server.Run([&routes](const scores::Request& request,
                                 scores::Answer answer) { routes.Handle(request, answer); },
                       [&routes] { routes.AfterPass(); });
  }
  // One byte into an empty pipe: it cannot block or fail.
  char byte = 0;
  [[maybe_unused]] ssize_t written = write(wake[1], &byte, 1);
  watcher.join();
  close(signal_fd);
  close(wake[0]);
  close(wake[1]);
  std::cout << "quorvane-scores: stopped" << std::endl;
  return clean ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    std::cerr << kUsage;
    return 2;
  }
  if (options->help) {
    std::cout << kUsage;
    return 0;
  }
  if (options->version) {
    std::cout << "quorvane-scores " << QV_VERSION << "\n";
    return 0;
  }
  return Serve(*options);
}
