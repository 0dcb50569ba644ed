// heard.cpp -- when the game's sound reaches the sink, by a recorder on the sink's monitor: from
// the program's start to its first audible sample, and (for the shell benchmarks) the moment
// each sound starts after a silence, to set beside the moment its key was pressed.
//
// Usage:
//   heard start QUORVANE [RUNS] [--busy]   process start to the first sample over -50 dBFS
//                                          at the sink, median and max of RUNS (default 15);
//                                          --busy: another stream (digital silence, 20 ms of
//                                          buffer, as a desktop's player) plays on the sink
//   heard onsets                           one line per sound heard after 30 ms of silence:
//                                          its time (CLOCK_REALTIME, microseconds, as bash's
//                                          EPOCHREALTIME), until standard input closes
// The sink is PULSE_SINK's, else the server's default. The recorder asks the server for no
// latency of its own (a monitor stream that did would keep an idle sink awake, and hide what a
// player meets): it only takes its data in 2 ms pieces, each stamped as it comes.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/real/sink_monitor.h"

namespace {

constexpr double kRate = 44100;
constexpr int16_t kAudible = 104;          // -50 dBFS
constexpr uint64_t kSilenceFrames = 1323;  // 30 ms below it before a sound counts as new

// Each sound that starts after a silence: the time its first audible frame reached the sink.
std::unique_ptr<qv::SinkMonitor> ListenForOnsets(std::function<void(double us)> heard) {
  auto quiet = std::make_shared<uint64_t>(kSilenceFrames);
  return qv::SinkMonitor::Open("", [heard, quiet](const int16_t* s, size_t frames, double last_us) {
    for (size_t f = 0; f < frames; ++f) {
      const bool loud = std::abs(s[2 * f]) >= kAudible || std::abs(s[2 * f + 1]) >= kAudible;
      if (loud && *quiet >= kSilenceFrames) {
        heard(last_us - 1e6 * static_cast<double>(frames - 1 - f) / kRate);
      }
      *quiet = loud ? 0 : *quiet + 1;
    }
  });
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct FirstHeard {
  std::mutex mutex;
  double since = 0;  // onsets before this time are not the run's
  double at = 0;
};

int Start(const std::string& program, int runs, bool busy) {
  FirstHeard first;
  const auto ear = ListenForOnsets([&first](double us) {
    std::lock_guard lock(first.mutex);
    if (first.at == 0 && us >= first.since) first.at = us;
  });
  if (ear == nullptr) {
    std::fprintf(stderr, "heard: cannot record the sink's monitor\n");
    return 1;
  }
  pid_t other = -1;
  if (busy) {
    other = fork();
    if (other == 0) {
      const int zero = open("/dev/zero", O_RDONLY);
      dup2(zero, 0);
      execlp("pacat", "pacat", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
             "--latency-msec=20", "--client-name=busy", static_cast<char*>(nullptr));
      _exit(127);
    }
    // Past the idle sink's block of silence, which the other stream met as it joined.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  }
  std::vector<double> ms;
  for (int run = 0; run < runs; ++run) {
    // The sink settles (idle, or with the other stream alone) before each start.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    {
      std::lock_guard lock(first.mutex);
      first.at = 0;
      first.since = qv::RealtimeUs();
    }
    const double started = qv::RealtimeUs();
    const pid_t pid = fork();
    if (pid == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    double at = 0;
    for (int i = 0; i < 5000 && at == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::lock_guard lock(first.mutex);
      at = first.at;
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    if (at == 0) {
      std::fprintf(stderr, "heard: run %d: nothing heard within 5 s\n", run + 1);
      if (other > 0) kill(other, SIGTERM);
      return 1;
    }
    ms.push_back((at - started) / 1000);
  }
  if (other > 0) {
    kill(other, SIGTERM);
    waitpid(other, nullptr, 0);
  }
  double load = 0;
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = 0;
    std::fclose(f);
  }
  std::printf(
      "start to the first sound heard at the sink, %s: median %.1f ms, min %.1f, max %.1f over "
      "%d runs (goal <= 40); load %.2f\n",
      busy ? "another stream playing" : "sink idle", Median(ms),
      *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()), runs, load);
  return 0;
}

int Onsets() {
  const auto ear = ListenForOnsets([](double us) {
    std::printf("%.0f\n", us);
    std::fflush(stdout);
  });
  if (ear == nullptr) {
    std::fprintf(stderr, "heard: cannot record the sink's monitor\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  char buf[64];
  while (read(0, buf, sizeof buf) > 0) {
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  if (argc >= 3 && std::strcmp(argv[1], "start") == 0) {
    const int runs = argc > 3 && argv[3][0] != '-' ? std::max(1, std::atoi(argv[3])) : 15;
    const bool busy = std::strcmp(argv[argc - 1], "--busy") == 0;
    return Start(argv[2], runs, busy);
  }
  if (argc == 2 && std::strcmp(argv[1], "onsets") == 0) return Onsets();
  std::fprintf(stderr, "usage: heard start QUORVANE [RUNS] [--busy] | heard onsets\n");
  return 2;
}
