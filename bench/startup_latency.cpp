// startup_latency.cpp -- time from starting the real program to the first sound it plays,
// read from its sound log. Usage: startup_latency QUORVANE [RUNS]. Needs a display; the
// environment chooses the sound output (scripts/bench: a private PulseAudio server).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool LogHasPlay(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("\tplay\t") != std::string::npos) return true;
  }
  return false;
}

// One start: ms until the first "play" line, or -1 when none came within 10 s.
double OneRun(const std::string& program, const std::string& log) {
  std::remove(log.c_str());
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("QUORVANE_SOUND_LOG", log.c_str(), 1);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  double ms = -1;
  while (Clock::now() - start < std::chrono::seconds(10)) {
    if (LogHasPlay(log)) {
      ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      break;
    }
    if (waitpid(pid, nullptr, WNOHANG) == pid) return -1;
    std::this_thread::sleep_for(std::chrono::microseconds(250));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: startup_latency QUORVANE [RUNS]\n");
    return 2;
  }
  const std::string program = argv[1];
  const int runs = argc > 2 ? std::atoi(argv[2]) : 10;
  const std::string log = "/tmp/qv_startup_latency_" + std::to_string(getpid()) + ".log";
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const double ms = OneRun(program, log);
    if (ms < 0) {
      std::fprintf(stderr, "startup_latency: run %d played nothing\n", i + 1);
      return 1;
    }
    times.push_back(ms);
  }
  std::remove(log.c_str());
  std::sort(times.begin(), times.end());
  std::printf("startup to first play: median %.1f ms, max %.1f ms over %d runs (goal < 150)\n",
              times[times.size() / 2], times.back(), runs);
  return 0;
}
