// poll_rate.cpp -- how many passes per second a game loop makes on the real backend: each pass
// is one ProcessEvents and one keyboard read, as in every loop of the game. Needs a display.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include "platform/sdl_openal/machine.h"

namespace {

double CpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main() {
  qv::RealPlatform platform("");
  try {
    platform.system.ShowWindow();
  } catch (const qv::PlatformError& e) {
    std::fprintf(stderr, "poll_rate: %s (is DISPLAY set?)\n", e.what());
    return 1;
  }
  platform.input.CreateKeyboard();
  platform.system.SetTimerEnabled(true);  // the timer thread runs during the game's waits too
  uint8_t keys[256];
  const auto start = std::chrono::steady_clock::now();
  const double cpu_start = CpuSeconds();
  long passes = 0;
  double seconds = 0;
  while (seconds < 3.0) {
    platform.system.ProcessEvents(platform.system.TickCount());  // due now: never sleeps
    if (platform.input.ReadKeyboard(keys) != qv::KeyRead::Ok) platform.input.AcquireKeyboard();
    ++passes;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  const double cpu = CpuSeconds() - cpu_start;
  std::printf("poll rate: %.0f passes/s (goal >= 500), %.1f %% of one core while polling\n",
              passes / seconds, 100.0 * cpu / seconds);
  return 0;
}
