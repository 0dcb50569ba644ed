// settings_file.cpp -- a huge settings file (10 MB of blank lines by default): the time and peak
// memory of start-up's reads and of one store through the settings store itself, each in a
// process of its own, and the simulator from launch to the introduction with that file.
// Usage: settings_file QUORVANE_SIM [MEGABYTES]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "store/ini_store.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Peak resident memory of this process so far, in KB.
long PeakKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// Runs step in a child process and prints its time and how far it raised the peak memory.
void Measure(const char* what, double file_mb, const std::function<void()>& step) {
  int out[2];
  if (pipe(out) != 0) std::exit(1);
  std::fflush(stdout);  // or the child prints it again
  const pid_t child = fork();
  if (child == 0) {
    const long before = PeakKb();
    const auto start = Clock::now();
    step();
    const double ms = MsSince(start);
    const long grown = PeakKb() - before;
    const double result[2] = {ms, static_cast<double>(grown)};
    if (write(out[1], result, sizeof result) != static_cast<ssize_t>(sizeof result)) _exit(1);
    _exit(0);
  }
  close(out[1]);
  double result[2] = {-1, -1};
  const bool got = read(out[0], result, sizeof result) == static_cast<ssize_t>(sizeof result);
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::printf("%s: failed\n", what);
    return;
  }
  std::printf("%s: %.1f ms, peak memory +%.1f MB (%.2fx the file)\n", what, result[0],
              result[1] / 1024, result[1] / 1024 / file_mb);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: settings_file QUORVANE_SIM [MEGABYTES]\n");
    return 2;
  }
  const std::string sim = argv[1];
  const int mb = argc > 2 ? std::atoi(argv[2]) : 10;
  char dir_template[] = "/tmp/qv_settings_bench.XXXXXX";
  if (mkdtemp(dir_template) == nullptr) return 1;
  const std::string dir = dir_template;
  const std::string path = dir + "/settings.ini";
  {
    std::ofstream file(path, std::ios::binary);
    const std::string blank(1024 * 1024, '\n');
    for (int i = 0; i < mb; ++i) file << blank;
  }
  std::printf("a settings file of %d MB of blank lines (load average at the start: ", mb);
  std::fflush(stdout);
  std::system("cut -d' ' -f1-3 /proc/loadavg | tr -d '\\n'");
  std::printf(")\n");

  // The store's own work, whatever the game's size limit: start-up's two reads, then one store.
  Measure("start-up's reads (score-sent marker, high score)", mb, [&] {
    qv::IniStore store(path);
    store.Read("quorvane", "settings", "qv");
    store.Read("QuorVane", "Settings", "HighScore");
  });
  Measure("one store", mb,
          [&] { qv::IniStore(path).Store("QuorVane", "Settings", "HighScore", "3438303333"); });

  // The whole game in the simulator, from launch to the introduction.
  const std::string script = dir + "/script.txt";
  std::ofstream(script) << "wait play intro.wav\nclose\n";
  std::fflush(stdout);
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl(sim.c_str(), sim.c_str(), "--script", script.c_str(), "--settings", path.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  std::printf(
      "the simulator from launch to the introduction: %.1f ms, peak memory %.1f MB"
      " (exit status %d)\n",
      MsSince(start), static_cast<double>(usage.ru_maxrss) / 1024,
      WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  std::system(("rm -rf " + dir).c_str());
  return 0;
}
