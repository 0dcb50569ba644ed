// pump_latency.cpp -- how promptly the real event pump hands a loop what it waits for: a key
// pressed while the pump sleeps with nothing due for 10 s, a deadline the loop gave it, and a
// playing sound's end. Each figure is from the event to the pass of the loop that sees it.
// Usage: pump_latency [SAMPLES] [SOUNDS]. Needs a display (scripts/bench runs it under Xvfb);
// the sound figure also needs an output device and is skipped without one.
//
// Keys are pushed into SDL's queue by another thread at random moments (SDL_PushEvent): that
// wakes a sleeping pump the way a key does, through a message on the X connection.
#include <SDL.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/real/machine.h"
#include "platform/wave_file.h"

namespace {

namespace fs = std::filesystem;

// Microseconds of the monotonic clock the tick count counts in.
int64_t NowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void SleepUs(int64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }

void Report(const char* what, std::vector<double> us, const std::string& extra) {
  if (us.empty()) {
    std::printf("%s: no samples\n", what);
    return;
  }
  std::sort(us.begin(), us.end());
  const size_t p99 = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(us.size()))) - 1;
  std::printf("%s: median %.2f ms, p99 %.2f ms, max %.2f ms over %zu%s\n", what,
              us[us.size() / 2] / 1000, us[p99] / 1000, us.back() / 1000, us.size(), extra.c_str());
}

// Keys: a thread presses Space at a random moment while the loop sleeps in the pump with
// nothing due for 10 s; the loop reads the keyboard once per pass, as the menu does.
void MeasureKeys(qv::RealPlatform& platform, int samples, std::mt19937& random) {
  std::atomic<int64_t> sent_at{0};
  std::atomic<bool> seen{false};
  std::atomic<bool> done{false};
  std::thread presser([&, seed = random()] {
    std::mt19937 own(seed);
    std::uniform_int_distribution<int> pause_us(5000, 60000);
    for (int i = 0; i < samples; ++i) {
      SleepUs(pause_us(own));
      SDL_Event down{};
      down.type = SDL_KEYDOWN;
      down.key.state = SDL_PRESSED;
      down.key.keysym.scancode = SDL_SCANCODE_SPACE;
      seen = false;
      sent_at = NowUs();
      SDL_PushEvent(&down);
      while (!seen && !done) SleepUs(200);
      SDL_Event up = down;
      up.type = SDL_KEYUP;
      up.key.state = SDL_RELEASED;
      SDL_PushEvent(&up);
    }
  });
  std::vector<double> latency;
  uint8_t keys[256] = {};
  const int64_t give_up = NowUs() + int64_t{samples} * 200000 + 5000000;
  while (static_cast<int>(latency.size()) < samples && NowUs() < give_up) {
    if (platform.input.ReadKeyboard(keys) != qv::KeyRead::Ok) {
      std::fill(std::begin(keys), std::end(keys), 0);
      platform.input.AcquireKeyboard();
    }
    if ((keys[qv::kKeySpace] & 0x80) != 0 && !seen) {
      latency.push_back(static_cast<double>(NowUs() - sent_at));
      seen = true;
    }
    platform.system.ProcessEvents(platform.system.TickCount() + 10000);
  }
  done = true;
  presser.join();
  Report("key to the pass that reads it", latency, " keys (pump asleep, nothing due for 10 s)");
}

// Deadlines: the loop asks to be woken 3-60 ms ahead and counts its passes until the tick
// count reaches the deadline; more than one pass means the pump came back early.
void MeasureDeadlines(qv::RealPlatform& platform, int samples, std::mt19937& random) {
  // The last key's release may still be on its way: let it go by first.
  for (int i = 0; i < 5; ++i) platform.system.ProcessEvents(platform.system.TickCount() + 20);
  std::uniform_int_distribution<uint32_t> ahead(3, 60);
  std::vector<double> lateness;
  long passes = 0;
  for (int i = 0; i < samples; ++i) {
    // The tick count is the monotonic clock's milliseconds, so its deadline is a moment on it.
    const int64_t now_ms = NowUs() / 1000;
    const uint32_t due = static_cast<uint32_t>(now_ms) + ahead(random);
    const int64_t due_us = (now_ms + (due - static_cast<uint32_t>(now_ms))) * 1000;
    do {
      platform.system.ProcessEvents(due);
      ++passes;
    } while (static_cast<int32_t>(platform.system.TickCount() - due) < 0);
    lateness.push_back(static_cast<double>(NowUs() - due_us));
  }
  char extra[80];
  std::snprintf(extra, sizeof extra, " deadlines; %.2f passes each (1: never early)",
                static_cast<double>(passes) / samples);
  Report("deadline to the pass that acts on it", lateness, extra);
}

void WriteTone(const fs::path& path, int ms) {
  const int rate = 22050;
  const int frames = rate * ms / 1000;
  std::vector<int16_t> samples(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    samples[static_cast<size_t>(i)] = static_cast<int16_t>(8000 * std::sin(i * 0.06));
  }
  qv::WriteWave(path.string(), rate, 1, samples.data(), samples.size());
}

// Sound ends: the loop waits for a one-shot sound as the game's players do; a watcher thread
// notes when the status first reads stopped (the mixer's end of it), looking every 100 us.
// Short sounds, so that a thousand of them take about a minute.
void MeasureSoundEnds(int samples, std::mt19937& random) {
  const fs::path dir = fs::temp_directory_path() / ("qv_pump_latency_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const int lengths[] = {23, 37, 51, 67};
  for (int ms : lengths) WriteTone(dir / (std::to_string(ms) + ".wav"), ms);
  {
    qv::RealPlatform platform(dir.string());
    platform.system.ShowWindow();
    if (!platform.sound.OpenSoundDevice()) {
      std::printf("sound's end to the pass that sees it: no output device, not measured\n");
      fs::remove_all(dir);
      return;
    }
    std::vector<qv::BufferId> ids;
    for (int ms : lengths) ids.push_back(platform.sound.CreateBuffer(std::to_string(ms) + ".wav"));
    // The watcher only reads the status of buffers that exist throughout.
    std::atomic<qv::BufferId> watched{0};
    std::atomic<int64_t> stopped_at{0};
    std::atomic<bool> done{false};
    std::thread watcher([&] {
      qv::BufferId id = 0;
      bool was_playing = false;
      while (!done) {
        if (watched != id) {
          id = watched;
          was_playing = true;
        }
        if (id != 0) {
          const bool playing = (platform.sound.GetStatus(id) & qv::kStatusPlaying) != 0;
          if (was_playing && !playing) stopped_at = NowUs();
          was_playing = playing;
        }
        SleepUs(100);
      }
    });
    std::uniform_int_distribution<int> pause_ms(2, 10);
    std::vector<double> lateness;
    for (int i = 0; i < samples; ++i) {
      const size_t k = static_cast<size_t>(i) % ids.size();
      stopped_at = 0;
      platform.sound.Play(ids[k], qv::kPlayOnce);
      watched = ids[k];
      while ((platform.sound.GetStatus(ids[k]) & qv::kStatusPlaying) != 0) {
        platform.system.ProcessEvents(std::nullopt);
      }
      const int64_t seen = NowUs();
      SleepUs(300);  // the watcher's next look
      if (stopped_at != 0)
        lateness.push_back(static_cast<double>(std::max<int64_t>(0, seen - stopped_at)));
      watched = 0;
      const uint32_t until = platform.system.TickCount() + static_cast<uint32_t>(pause_ms(random));
      while (static_cast<int32_t>(platform.system.TickCount() - until) < 0) {
        platform.system.ProcessEvents(until);
      }
    }
    done = true;
    watcher.join();
    Report("sound's end to the pass that sees it", lateness, " one-shot sounds");
  }
  fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
  const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
  const int sounds = argc > 2 ? std::max(10, std::atoi(argv[2])) : 1000;
  std::mt19937 random(20240611);
  {
    qv::RealPlatform platform("");
    try {
      platform.system.ShowWindow();
    } catch (const qv::PlatformError& e) {
      std::fprintf(stderr, "pump_latency: %s\n", e.what());
      return 1;
    }
    // Without a window manager nobody gives the window the keyboard: take it.
    SDL_SetWindowInputFocus(platform.system.Window());
    const uint32_t limit = platform.system.TickCount() + 3000;
    while (!platform.system.HasFocus() &&
           static_cast<int32_t>(platform.system.TickCount() - limit) < 0) {
      platform.system.ProcessEvents(platform.system.TickCount() + 10);
    }
    if (!platform.system.HasFocus()) {
      std::fprintf(stderr, "pump_latency: the window never got the keyboard\n");
      return 1;
    }
    platform.input.CreateKeyboard();
    MeasureKeys(platform, samples, random);
    MeasureDeadlines(platform, samples, random);
  }
  MeasureSoundEnds(sounds, random);
  return 0;
}
