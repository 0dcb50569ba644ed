// audio_gaps.cpp -- does the game's sound output play without audible gaps, and at what
// latency, on the path a player's desktop takes (SDL's audio into a PulseAudio server)? The
// game's own output plays a continuous carrier plus eight overlapping sounds restarting every
// 30-250 ms (the game's churn of cues, busier) for SECONDS, to a null sink of its own; parec
// records the sink's monitor, and every run of 8 or more all-zero frames after the first second
// is a gap (the carrier never touches zero). The latency is the server's own figure for the
// stream (buffer plus sink latency, from pactl), read every half second.
//
// Beside it, a reference stream (pacat at the same latency, fed a carrier) plays to a sink of its
// own: when it breaks up too, the whole machine stalled (the sound server or everything), and
// those gaps are not the game's. A gap of the game's within 50 ms of one of the reference's is
// counted as the machine's.
//
// Usage: audio_gaps [--seconds N] [--note TEXT] [--list]. Needs a PulseAudio server (scripts/bench
// starts one) with pactl, parec and pacat; load, if any, is the caller's.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/real/machine.h"
#include "platform/wave_file.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 44100;  // what parec records at
constexpr int kSources = 8;
constexpr int kGapFrames = 8;           // this many silent frames in a row is heard as a click
constexpr double kSettleSeconds = 1.0;  // a stream's start, before its first data, is not a gap
constexpr double kSameStallSeconds = 0.05;

struct Options {
  int seconds = 60;
  std::string note;
  bool list = false;
};

double Median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string FirstLine(const std::string& command) {
  std::string line;
  if (FILE* out = popen(command.c_str(), "r")) {
    char text[256];
    if (std::fgets(text, sizeof text, out) != nullptr) line = text;
    pclose(out);
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  return line;
}

// Runs a program with its standard output (or input) on a pipe whose other end is *fd.
pid_t Spawn(const std::vector<std::string>& args, int* fd, bool feed_stdin, const char* sink) {
  int p[2];
  if (pipe(p) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    if (sink != nullptr) setenv("PULSE_SINK", sink, 1);
    dup2(feed_stdin ? p[0] : p[1], feed_stdin ? 0 : 1);
    close(p[0]);
    close(p[1]);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(feed_stdin ? p[0] : p[1]);
  *fd = feed_stdin ? p[1] : p[0];
  return pid;
}

pid_t StartRecorder(const std::string& sink, int* fd) {
  return Spawn(
      {"parec", "--raw", "--format=s16le", "--channels=2", "--rate=" + std::to_string(kRate),
       "--device=" + sink + ".monitor", "--latency-msec=20"},
      fd, false, nullptr);
}

// Where each gap starts (seconds after the settling time) and how long it is (frames).
struct Gaps {
  std::vector<std::pair<double, long>> where;
  long frames = 0;
  long Longest() const {
    long l = 0;
    for (const auto& g : where) l = std::max(l, g.second);
    return l;
  }
};

Gaps CountGaps(int fd, long skip, long count) {
  Gaps out;
  long run = 0, seen = 0;
  std::vector<int16_t> chunk(4096 * 2);
  size_t carry = 0;
  auto* bytes = reinterpret_cast<char*>(chunk.data());
  auto gap = [&] { out.where.emplace_back(static_cast<double>(seen - skip - run) / kRate, run); };
  while (seen < skip + count) {
    const ssize_t n = read(fd, bytes + carry, chunk.size() * 2 - carry);
    if (n <= 0) break;
    const size_t total = carry + static_cast<size_t>(n);
    const size_t frames = total / 4;
    for (size_t f = 0; f < frames && seen < skip + count; ++f, ++seen) {
      if (seen < skip) continue;
      ++out.frames;
      if (chunk[2 * f] == 0 && chunk[2 * f + 1] == 0) {
        ++run;
        continue;
      }
      if (run >= kGapFrames) gap();
      run = 0;
    }
    carry = total - frames * 4;
    std::memmove(bytes, bytes + frames * 4, carry);
  }
  if (run >= kGapFrames) gap();
  return out;
}

// The server's latency of each playing stream, by its client's process id: buffer plus sink.
std::map<int, double> StreamLatencies() {
  std::map<int, double> out;
  FILE* p = popen("pactl list sink-inputs 2>/dev/null", "r");
  if (p == nullptr) return out;
  char line[512];
  double buffer = 0, sink = 0, v = 0;
  int pid = 0;
  while (std::fgets(line, sizeof line, p) != nullptr) {
    if (std::sscanf(line, " Buffer Latency: %lf usec", &v) == 1) buffer = v;
    if (std::sscanf(line, " Sink Latency: %lf usec", &v) == 1) sink = v;
    if (std::sscanf(line, " application.process.id = \"%d\"", &pid) == 1) {
      out[pid] = (buffer + sink) / 1000;
    }
  }
  pclose(p);
  return out;
}

// Busy and total jiffies of all cores so far, from the first line of /proc/stat.
std::pair<long long, long long> MachineJiffies() {
  std::ifstream in("/proc/stat");
  std::string cpu;
  long long value = 0, busy = 0, total = 0;
  in >> cpu;
  for (int field = 0; field < 8 && in >> value; ++field) {
    total += value;
    if (field != 3 && field != 4) busy += value;  // neither idle nor waiting for I/O
  }
  return {busy, total};
}

// The game's side, in a process of its own: the real sound backend playing the load.
int PlayLoad(const Options& options, const std::string& sink) {
  setenv("PULSE_SINK", sink.c_str(), 1);
  unsetenv("QUORVANE_SOUND_CAPTURE");
  const fs::path dir = fs::temp_directory_path() / ("qv_audio_gaps_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const int rate = 22050;
  std::vector<int16_t> s(rate);
  for (int i = 0; i < rate; ++i) {
    s[static_cast<size_t>(i)] =
        static_cast<int16_t>(9000 + 2000 * std::sin(2 * M_PI * 110 * i / rate));
  }
  qv::WriteWave((dir / "carrier.wav").string(), rate, 1, s.data(), s.size());
  for (int k = 0; k < kSources; ++k) {
    // Small enough that all eight at their trough together cannot cancel the carrier.
    std::vector<int16_t> t(static_cast<size_t>(rate * (200 + 20 * k) / 1000));
    for (size_t i = 0; i < t.size(); ++i) {
      t[i] = static_cast<int16_t>(
          500 * std::sin(2 * M_PI * (300 + 97 * k) * static_cast<double>(i) / rate));
    }
    qv::WriteWave((dir / ("t" + std::to_string(k) + ".wav")).string(), rate, 1, t.data(), t.size());
  }
  int status = 0;
  {
    qv::SdlSound sound(dir.string());
    if (!sound.OpenSoundDevice()) {
      std::printf("audio_gaps: no output device\n");
      status = 1;
    } else {
      const qv::BufferId carrier = sound.CreateBuffer("carrier.wav");
      sound.Play(carrier, qv::kPlayLooping);
      std::vector<qv::BufferId> ids;
      std::mt19937 random(12345);
      std::uniform_int_distribution<int> interval(30, 250);
      std::vector<Clock::time_point> next;
      for (int k = 0; k < kSources; ++k) {
        ids.push_back(sound.CreateBuffer("t" + std::to_string(k) + ".wav"));
        sound.SetPan(ids.back(), (k % 3 - 1) * 10000);  // left, centre, right
        next.push_back(Clock::now() + std::chrono::milliseconds(interval(random)));
      }
      const auto end = Clock::now() + std::chrono::seconds(options.seconds + 6);
      while (Clock::now() < end) {
        const auto now = Clock::now();
        for (size_t k = 0; k < ids.size(); ++k) {
          if (now < next[k]) continue;
          sound.Stop(ids[k]);
          sound.SetCurrentPosition(ids[k], 0);
          sound.Play(ids[k], qv::kPlayOnce);
          next[k] = now + std::chrono::milliseconds(interval(random));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }
  }
  fs::remove_all(dir);
  return status;
}

// The reference: pacat at the game's latency, fed a carrier as fast as it takes it.
pid_t StartReference(const std::string& sink, int* feed) {
  return Spawn({"pacat", "--raw", "--format=s16le", "--channels=2",
                "--rate=" + std::to_string(kRate), "--latency-msec=10"},
               feed, true, sink.c_str());
}
void FeedReference(int fd) {
  std::vector<int16_t> period(2 * 441);
  long n = 0;
  for (;;) {
    for (size_t f = 0; f < 441; ++f, ++n) {
      const auto v = static_cast<int16_t>(9000 + 2000 * std::sin(2 * M_PI * 110 * n / kRate));
      period[2 * f] = period[2 * f + 1] = v;
    }
    if (write(fd, period.data(), period.size() * 2) <= 0) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      options.seconds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--note" && i + 1 < argc) {
      options.note = argv[++i];
    } else if (arg == "--list") {
      options.list = true;
    } else {
      std::fprintf(stderr, "usage: audio_gaps [--seconds N] [--note TEXT] [--list]\n");
      return 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  const std::string tag = std::to_string(getpid());
  const std::string game_sink = "qv_gaps_game_" + tag, reference_sink = "qv_gaps_ref_" + tag;
  std::vector<std::string> modules;
  for (const std::string& sink : {game_sink, reference_sink}) {
    modules.push_back(FirstLine("pactl load-module module-null-sink sink_name=" + sink));
    if (modules.back().empty()) {
      std::fprintf(stderr,
                   "audio_gaps: pactl could not make a sink (is a PulseAudio server up?)\n");
      return 1;
    }
  }
  const long skip = std::lround(kSettleSeconds * kRate);
  const long count = static_cast<long>(options.seconds) * kRate;
  const auto machine_before = MachineJiffies();

  // The game's stream first: the recording starts once the server has it.
  std::fflush(stdout);
  const pid_t game = fork();
  if (game == 0) _exit(PlayLoad(options, game_sink));
  for (int i = 0; i < 100 && StreamLatencies().count(game) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  int game_fd = -1, reference_fd = -1, feed = -1;
  const pid_t game_recorder = StartRecorder(game_sink, &game_fd);
  const pid_t reference_recorder = StartRecorder(reference_sink, &reference_fd);
  const pid_t reference = StartReference(reference_sink, &feed);
  std::thread feeder([feed] { FeedReference(feed); });
  Gaps game_gaps, reference_gaps;
  std::thread game_reader([&] { game_gaps = CountGaps(game_fd, skip, count); });
  std::thread reference_reader([&] { reference_gaps = CountGaps(reference_fd, skip, count); });

  std::vector<double> game_latency, reference_latency;
  const auto until =
      Clock::now() +
      std::chrono::milliseconds(static_cast<int>((kSettleSeconds + options.seconds) * 1000));
  std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kSettleSeconds * 1000)));
  while (Clock::now() < until) {
    const auto latencies = StreamLatencies();
    if (auto it = latencies.find(game); it != latencies.end()) game_latency.push_back(it->second);
    if (auto it = latencies.find(reference); it != latencies.end()) {
      reference_latency.push_back(it->second);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  game_reader.join();
  reference_reader.join();
  const auto machine_after = MachineJiffies();
  for (pid_t pid : {game_recorder, reference_recorder, reference}) kill(pid, SIGTERM);
  close(feed);
  feeder.join();
  int game_status = 0;
  waitpid(game, &game_status, 0);
  for (pid_t pid : {game_recorder, reference_recorder, reference}) waitpid(pid, nullptr, 0);
  close(game_fd);
  close(reference_fd);
  for (const std::string& module : modules) FirstLine("pactl unload-module " + module);

  if (game_gaps.frames < count || !WIFEXITED(game_status) || WEXITSTATUS(game_status) != 0) {
    std::printf("audio_gaps: recorded only %.1f s of the game's sink\n",
                static_cast<double>(game_gaps.frames) / kRate);
    return 1;
  }
  // The game's gaps that the reference shared are the machine's.
  long own = 0;
  for (const auto& gap : game_gaps.where) {
    const bool shared = std::any_of(
        reference_gaps.where.begin(), reference_gaps.where.end(),
        [&](const auto& r) { return std::abs(r.first - gap.first) < kSameStallSeconds; });
    own += shared ? 0 : 1;
  }
  const double busy =
      100.0 * static_cast<double>(machine_after.first - machine_before.first) /
      static_cast<double>(std::max(1LL, machine_after.second - machine_before.second));
  double load = 0;
  std::ifstream("/proc/loadavg") >> load;
  const auto ms = [](long frames) { return 1000.0 * static_cast<double>(frames) / kRate; };
  const double high =
      game_latency.empty() ? -1 : *std::max_element(game_latency.begin(), game_latency.end());
  std::printf(
      "%-12s game: latency median %5.1f ms, max %5.1f ms; gaps %4zu in %d s (longest "
      "%5.1f ms), %ld of them its own\n",
      options.note.c_str(), Median(game_latency), high, game_gaps.where.size(), options.seconds,
      ms(game_gaps.Longest()), own);
  std::printf(
      "%-12s reference stream: latency median %5.1f ms; gaps %4zu (longest %5.1f ms); "
      "machine %3.0f %% busy, load %.2f\n",
      options.note.c_str(), Median(reference_latency), reference_gaps.where.size(),
      ms(reference_gaps.Longest()), busy, load);
  if (!reference_gaps.where.empty()) {
    std::printf(
        "%-12s the machine itself stalled (the reference broke up): only the game's own "
        "gaps are its figure, and %s\n",
        options.note.c_str(),
        reference_gaps.where.size() > 10 ? "the machine was too busy for any figure to mean "
                                           "much"
                                         : "even they may be the machine's");
  }
  if (options.list) {
    for (const auto& [at, length] : game_gaps.where) {
      std::printf("  game gap at %7.3f s, %5.1f ms\n", at, ms(length));
    }
    for (const auto& [at, length] : reference_gaps.where) {
      std::printf("  reference gap at %7.3f s, %5.1f ms\n", at, ms(length));
    }
  }
  std::fflush(stdout);
  return 0;
}
