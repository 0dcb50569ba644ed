// startup_latency.cpp -- time from starting the real program to the first sound it plays, read
// from its sound log, then the same path taken step by step. Usage: startup_latency QUORVANE
// [RUNS]. Needs a display; the environment chooses the sound output (scripts/bench: a private
// PulseAudio server).
//
// The steps: this program starts itself again (--steps) and runs the real backend through the
// order of StartUp (src/startup/startup.cpp) with the sounds beside QUORVANE, timing each step
// from the moment its parent started it: the dynamic loader up to main, the window (SDL's
// start-up and the window), what is left to wait for of the sound output (opened on a thread
// while the window is made), the keyboard and the settings, the bank's loads, the first play.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/real/machine.h"
#include "sound/sound_bank.h"
#include "startup/program.h"
#include "store/ini_store.h"
#include "store/settings.h"

namespace {

using Clock = std::chrono::steady_clock;

// The steps, in the order they run, and what --steps prints: one figure each.
constexpr const char* kSteps[] = {"process start to main", "the window",       "the sound output",
                                  "keyboard and settings", "the bank's loads", "the first play"};
constexpr size_t kStepCount = std::size(kSteps);
constexpr const char* kStartVariable = "QV_BENCH_START_US";

double NowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

bool LogHasPlay(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("\tplay\t") != std::string::npos) return true;
  }
  return false;
}

// One start of the program: ms until the first "play" line, or -1 when none came within 10 s.
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

// The child of --steps: StartUp's order on the real backend, each step's end in ms since the
// parent forked, on one line of standard output.
int RunSteps(const std::string& sounds_dir) {
  const char* start = std::getenv(kStartVariable);
  if (start == nullptr) return 2;
  const double start_us = std::atof(start);
  std::vector<double> ends;
  auto mark = [&] { ends.push_back((NowUs() - start_us) / 1000); };
  mark();
  qv::RealPlatform real(sounds_dir);
  qv::IniStore settings(qv::DefaultSettingsPath());
  qv::Program pg(real.Parts(), settings);
  qv::Platform& machine = pg.platform;
  pg.rng.Seed(machine.system.ClockSeed());
  machine.system.ShowWindow();
  mark();
  if (!machine.sound.OpenSoundDevice()) return 1;
  mark();
  machine.input.CreateKeyboard();
  qv::ReadStartupSettings(pg.settings, machine.system);
  mark();
  qv::LoadSoundBank(pg.audio);
  mark();
  const qv::BufferId first = machine.sound.CreateBuffer("empty.wav");
  machine.sound.SetVolume(first, 0);
  machine.sound.Play(first, qv::kPlayOnce);
  mark();
  for (double ms : ends) std::printf("%.3f ", ms);
  std::printf("\n");
  std::fflush(stdout);
  real.system.Close();
  return 0;
}

// One run of --steps: the end of each step in ms, or nothing when it failed.
std::vector<double> OneStepsRun(const std::string& sounds_dir) {
  int out[2];
  if (pipe(out) != 0) return {};
  const double start_us = NowUs();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    setenv(kStartVariable, std::to_string(start_us).c_str(), 1);
    execl("/proc/self/exe", "startup_latency", "--steps", sounds_dir.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
    text.append(buf, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  std::vector<double> ends;
  for (const char* p = text.c_str(); *p != '\0';) {
    char* after = nullptr;
    const double v = std::strtod(p, &after);
    if (after == p) break;
    ends.push_back(v);
    p = after;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || ends.size() != kStepCount) return {};
  return ends;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--steps") == 0) return RunSteps(argv[2]);
  if (argc < 2) {
    std::fprintf(stderr, "usage: startup_latency QUORVANE [RUNS]\n");
    return 2;
  }
  const std::string program = argv[1];
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
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
  std::printf("startup to first play: median %.1f ms, max %.1f ms over %d runs (goal < 40)\n",
              Median(times), *std::max_element(times.begin(), times.end()), runs);

  const std::string sounds_dir = program.substr(0, program.find_last_of('/') + 1) + "sounds";
  std::vector<std::vector<double>> steps(kStepCount);
  for (int i = 0; i < runs; ++i) {
    const std::vector<double> ends = OneStepsRun(sounds_dir);
    if (ends.empty()) {
      std::fprintf(stderr, "startup_latency: the steps' run %d failed\n", i + 1);
      return 1;
    }
    for (size_t s = 0; s < kStepCount; ++s) steps[s].push_back(ends[s] - (s > 0 ? ends[s - 1] : 0));
  }
  std::printf("its steps, the same path step by step (median, max of %d runs, ms):\n", runs);
  double total = 0;
  for (size_t s = 0; s < kStepCount; ++s) {
    total += Median(steps[s]);
    std::printf("  %-22s %6.1f %6.1f\n", kSteps[s], Median(steps[s]),
                *std::max_element(steps[s].begin(), steps[s].end()));
  }
  std::printf("  %-22s %6.1f\n", "sum of the medians", total);
  return 0;
}
