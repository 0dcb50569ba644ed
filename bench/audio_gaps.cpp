// audio_gaps.cpp -- does an OpenAL Soft configuration play without audible gaps, and at what
// output latency? For each setting: a continuous carrier plus eight overlapping sources
// restarting every 30-250 ms (the game's churn of cues, busier), for SECONDS; parec records the
// PulseAudio sink's monitor, and every run of 8 or more all-zero frames after the first half
// second is a gap (the carrier itself never touches zero). The device latency is read from
// OpenAL's own clock (ALC_DEVICE_LATENCY_SOFT) every 20 ms.
//
// Usage: audio_gaps [--seconds N] [--sink NAME] [--note TEXT] [--list] [--together] SETTING...
// SETTING: PERIODxCOUNT (for example 128x5, optionally +rt for a real-time mixing thread where
// the system allows it), or the path of an alsoft.conf (the game's own). --list prints each gap
// (in seconds since the start). Each line also gives how busy the whole machine was meanwhile
// (all cores, from /proc/stat), since a shared machine's other work decides as much as the
// setting does. --together plays every setting at once, each to a null sink of its own (made
// with pactl), so that all of them meet the same stalls of a busy machine: a fair comparison.
// Needs a PulseAudio server with the sink (scripts/bench starts one); load, if any, is the
// caller's (scripts/bench runs a parallel build beside it).
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSources = 8;
constexpr int kGapFrames = 8;           // this many silent frames in a row is heard as a click
constexpr double kSettleSeconds = 0.5;  // the stream's start, before its first data, is not a gap
constexpr int kExitFrozen = 3;          // the latency clock never moved: measure again

struct Options {
  int seconds = 60;
  std::string sink = "qv_null";
  std::string note;
  bool list = false;
  bool together = false;
};

// When the program started: gap times are given from here, the same for every child.
const Clock::time_point kStart = Clock::now();

// Everything a child process needs to measure one setting.
struct Setting {
  std::string label;  // "128x5", or "128x5 game" for the game's file
  std::string conf;   // the file ALSOFT_CONF points at
};

double Median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A mono 16-bit tone of `ms` at `hz` around `offset`; the carrier's offset keeps it off zero.
ALuint MakeTone(int rate, int ms, double hz, double amplitude, double offset) {
  std::vector<int16_t> samples(static_cast<size_t>(rate) * static_cast<size_t>(ms) / 1000);
  for (size_t i = 0; i < samples.size(); ++i) {
    const double t = static_cast<double>(i) / rate;
    samples[i] = static_cast<int16_t>(offset + amplitude * std::sin(2 * M_PI * hz * t));
  }
  ALuint buffer = 0;
  alGenBuffers(1, &buffer);
  alBufferData(buffer, AL_FORMAT_MONO16, samples.data(), static_cast<ALsizei>(samples.size() * 2),
               rate);
  return buffer;
}

// Runs parec on the sink's monitor with raw stereo 16-bit output at `rate`; its stdout is *fd.
pid_t StartRecorder(const std::string& sink, int rate, int* fd) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], 1);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    const std::string device = "--device=" + sink + ".monitor";
    const std::string rate_arg = "--rate=" + std::to_string(rate);
    execlp("parec", "parec", "--raw", "--format=s16le", "--channels=2", rate_arg.c_str(),
           device.c_str(), "--latency-msec=20", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipe_fds[1]);
  *fd = pipe_fds[0];
  return pid;
}

struct GapCount {
  long gaps = 0;
  long longest = 0;                          // frames
  long frames = 0;                           // frames examined
  std::vector<std::pair<long, long>> where;  // first frame (after the skip) and length of each
};

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

// Reads `skip` frames and then `count` frames of interleaved stereo s16le from fd, counting the
// runs of kGapFrames or more frames that are silent on both channels.
GapCount CountGaps(int fd, long skip, long count) {
  GapCount out;
  long run = 0;
  long seen = 0;
  std::vector<int16_t> chunk(4096 * 2);
  size_t carry = 0;  // bytes of a partial frame kept from the last read
  auto* bytes = reinterpret_cast<char*>(chunk.data());
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
      if (run >= kGapFrames) {
        ++out.gaps;
        out.where.emplace_back(seen - skip - run, run);
      }
      out.longest = std::max(out.longest, run);
      run = 0;
    }
    carry = total - frames * 4;
    std::memmove(bytes, bytes + frames * 4, carry);
  }
  if (run >= kGapFrames) {
    ++out.gaps;
    out.where.emplace_back(seen - skip - run, run);
  }
  out.longest = std::max(out.longest, run);
  return out;
}

// One setting, in a process of its own (OpenAL Soft reads its configuration once).
int Measure(const Setting& setting, const Options& options) {
  ALCdevice* device = alcOpenDevice(nullptr);
  if (device == nullptr) {
    std::printf("%-12s no output device\n", setting.label.c_str());
    return 1;
  }
  ALCcontext* context = alcCreateContext(device, nullptr);
  alcMakeContextCurrent(context);
  ALCint rate = 0, refresh = 0;
  alcGetIntegerv(device, ALC_FREQUENCY, 1, &rate);
  alcGetIntegerv(device, ALC_REFRESH, 1, &refresh);
  auto device_clock =
      reinterpret_cast<void(ALC_APIENTRY*)(ALCdevice*, ALCenum, ALsizei, ALCint64SOFT*)>(
          alcGetProcAddress(device, "alcGetInteger64vSOFT"));
  if (device_clock == nullptr) {
    std::printf("%-12s OpenAL has no device clock (ALC_SOFT_device_clock)\n",
                setting.label.c_str());
    return 1;
  }

  // The carrier: a low tone riding on a constant, never zero. The others stay small enough
  // that, all eight at their trough together, they cannot cancel it.
  ALuint carrier_buffer = MakeTone(rate, 1000, 110, 2000, 9000);
  ALuint carrier = 0;
  alGenSources(1, &carrier);
  alSourcei(carrier, AL_BUFFER, static_cast<ALint>(carrier_buffer));
  alSourcei(carrier, AL_LOOPING, AL_TRUE);
  alSourcePlay(carrier);
  std::vector<ALuint> buffers, sources(kSources);
  alGenSources(kSources, sources.data());
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> interval(30, 250);
  std::vector<Clock::time_point> next(kSources);
  const auto begin = Clock::now();
  for (int i = 0; i < kSources; ++i) {
    buffers.push_back(MakeTone(rate, 200 + 20 * i, 300 + 97 * i, 500, 0));
    alSourcei(sources[i], AL_BUFFER, static_cast<ALint>(buffers.back()));
    alSource3f(sources[i], AL_POSITION, (i % 3) - 1.0f, 0, -1);  // left, centre, right
    next[i] = begin + std::chrono::milliseconds(interval(random));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  int fd = -1;
  const pid_t recorder = StartRecorder(options.sink, rate, &fd);
  if (recorder < 0) return 1;
  const double recording_from = std::chrono::duration<double>(Clock::now() - kStart).count();
  const long skip = std::lround(kSettleSeconds * rate);
  const long count = static_cast<long>(options.seconds) * rate;
  GapCount gaps;
  const auto machine_before = MachineJiffies();
  std::atomic<bool> recorded{false};
  std::thread reader([&] {
    gaps = CountGaps(fd, skip, count);
    recorded = true;
  });

  // Restart the sources as they fall due and read the latency, until the recording is done.
  std::vector<double> latency_ms;
  auto next_reading = Clock::now();
  const auto limit = Clock::now() + std::chrono::seconds(options.seconds + 10);
  while (!recorded && Clock::now() < limit) {
    const auto now = Clock::now();
    for (int i = 0; i < kSources; ++i) {
      if (now < next[i]) continue;
      alSourceRewind(sources[i]);
      alSourcePlay(sources[i]);
      next[i] = now + std::chrono::milliseconds(interval(random));
    }
    if (now >= next_reading) {
      ALCint64SOFT ns = 0;
      device_clock(device, ALC_DEVICE_LATENCY_SOFT, 1, &ns);
      latency_ms.push_back(static_cast<double>(ns) / 1e6);
      next_reading = now + std::chrono::milliseconds(20);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  kill(recorder, SIGTERM);  // its end closes the pipe, which ends the reader too
  reader.join();
  const auto machine_after = MachineJiffies();
  const double busy =
      100.0 * static_cast<double>(machine_after.first - machine_before.first) /
      static_cast<double>(std::max(1LL, machine_after.second - machine_before.second));
  waitpid(recorder, nullptr, 0);
  close(fd);
  alSourceStopv(kSources, sources.data());
  alSourceStop(carrier);
  alDeleteSources(kSources, sources.data());
  alDeleteSources(1, &carrier);
  alDeleteBuffers(static_cast<ALsizei>(buffers.size()), buffers.data());
  alDeleteBuffers(1, &carrier_buffer);
  alcMakeContextCurrent(nullptr);
  alcDestroyContext(context);
  alcCloseDevice(device);

  if (gaps.frames < count) {
    std::printf("%-12s recorded only %.1f s of the sink's monitor\n", setting.label.c_str(),
                static_cast<double>(gaps.frames) / rate);
    return 1;
  }
  // A PulseAudio null sink sometimes hands a new stream stale timing (a constant figure of
  // about 1 ms); a real output's figure always moves as periods are written.
  const auto [low, high] = std::minmax_element(latency_ms.begin(), latency_ms.end());
  if (latency_ms.empty() || *high - *low < 0.01) {
    std::fprintf(stderr, "%s: frozen latency clock, measuring again\n", setting.label.c_str());
    return kExitFrozen;
  }
  std::printf(
      "%-12s %-12s latency median %5.1f ms, max %5.1f ms; gaps %4ld in %d s (longest %5.1f ms); "
      "machine %3.0f %% busy; %d Hz, %d mixes/s\n",
      setting.label.c_str(), options.note.c_str(), Median(latency_ms), *high, gaps.gaps,
      options.seconds, 1000.0 * static_cast<double>(gaps.longest) / rate, busy, rate, refresh);
  if (options.list) {
    for (const auto& [first, length] : gaps.where) {
      std::printf("  %s gap at %7.3f s, %5.1f ms\n", setting.label.c_str(),
                  recording_from + kSettleSeconds + static_cast<double>(first) / rate,
                  1000.0 * static_cast<double>(length) / rate);
    }
  }
  std::fflush(stdout);
  return 0;
}

// "128x5" -> a configuration file of its own; a path -> that file, labelled with its period.
bool ParseSetting(const std::string& text, const std::string& scratch, Setting* out) {
  int period = 0, count = 0, used = 0;
  if (std::sscanf(text.c_str(), "%dx%d%n", &period, &count, &used) == 2 &&
      (text.substr(static_cast<size_t>(used)).empty() ||
       text.substr(static_cast<size_t>(used)) == "+rt")) {
    const bool realtime = text.substr(static_cast<size_t>(used)) == "+rt";
    out->label = text;
    out->conf = scratch + "_" + text + ".conf";
    std::ofstream(out->conf) << "[general]\nperiod_size = " << period << "\nperiods = " << count
                             << "\nhrtf = false\n"
                             << (realtime ? "rt-prio = 1\n" : "");
    return true;
  }
  std::ifstream in(text);
  if (!in) return false;
  std::string line, p = "?", n = "?";
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string key, equals, value;
    if (!(fields >> key >> equals >> value) || equals != "=") continue;
    if (key == "period_size") p = value;
    if (key == "periods") n = value;
  }
  out->label = p + "x" + n + " game";
  out->conf = text;
  return true;
}

}  // namespace

// One setting in a child process, measured again while the latency clock reads frozen.
int RunOne(const Setting& setting, const Options& options) {
  int status = kExitFrozen;
  for (int attempt = 0; attempt < 5 && status == kExitFrozen; ++attempt) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("ALSOFT_CONF", setting.conf.c_str(), 1);
      _exit(Measure(setting, options));
    }
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 1;
  }
  return status;
}

// Runs a command and gives the first line it prints.
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

// Every setting at once, each playing to a null sink of its own.
int RunTogether(const std::vector<Setting>& settings, Options options) {
  std::vector<std::string> modules;
  std::vector<pid_t> children;
  for (size_t i = 0; i < settings.size(); ++i) {
    options.sink = "qv_gaps_" + std::to_string(getpid()) + "_" + std::to_string(i);
    const std::string module =
        FirstLine("pactl load-module module-null-sink sink_name=" + options.sink);
    if (module.empty()) {
      std::fprintf(stderr, "audio_gaps: pactl could not make a sink\n");
      break;
    }
    modules.push_back(module);
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("PULSE_SINK", options.sink.c_str(), 1);  // libpulse's default for new streams
      _exit(RunOne(settings[i], options));
    }
    children.push_back(pid);
  }
  int failed = modules.size() != settings.size();
  for (pid_t pid : children) {
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    failed |= !WIFEXITED(wait_status) || WEXITSTATUS(wait_status) != 0;
  }
  for (const std::string& module : modules) {
    FirstLine("pactl unload-module " + module);
  }
  return failed;
}

int main(int argc, char** argv) {
  Options options;
  std::vector<std::string> texts;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      options.seconds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--sink" && i + 1 < argc) {
      options.sink = argv[++i];
    } else if (arg == "--note" && i + 1 < argc) {
      options.note = argv[++i];
    } else if (arg == "--list") {
      options.list = true;
    } else if (arg == "--together") {
      options.together = true;
    } else {
      texts.push_back(arg);
    }
  }
  if (texts.empty()) {
    std::fprintf(stderr,
                 "usage: audio_gaps [--seconds N] [--sink NAME] [--note TEXT] [--list] "
                 "[--together] SETTING...\n"
                 "SETTING: PERIODxCOUNT[+rt] (e.g. 128x5) or the path of an alsoft.conf\n");
    return 2;
  }
  const std::string scratch = "/tmp/qv_audio_gaps_" + std::to_string(getpid());
  int failed = 0;
  std::vector<Setting> settings;
  for (const std::string& text : texts) {
    Setting setting;
    if (ParseSetting(text, scratch, &setting)) {
      settings.push_back(setting);
    } else {
      std::fprintf(stderr, "audio_gaps: %s is neither PERIODxCOUNT nor a readable file\n",
                   text.c_str());
      failed = 1;
    }
  }
  if (options.together) {
    failed |= RunTogether(settings, options);
  } else {
    for (const Setting& setting : settings) failed |= RunOne(setting, options) != 0;
  }
  for (const Setting& setting : settings) {
    if (setting.conf.rfind(scratch, 0) == 0) std::remove(setting.conf.c_str());
  }
  return failed;
}
