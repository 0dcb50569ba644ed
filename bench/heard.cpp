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
#include <pulse/pulseaudio.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kRate = 44100;
constexpr int16_t kAudible = 104;          // -50 dBFS
constexpr uint64_t kSilenceFrames = 1323;  // 30 ms below it before a sound counts as new

double RealtimeUs() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

std::string MonitorName() {
  if (const char* sink = std::getenv("PULSE_SINK"); sink != nullptr && sink[0] != '\0') {
    return std::string(sink) + ".monitor";
  }
  return "@DEFAULT_MONITOR@";
}

// A record stream on the monitor; each onset's time goes to the listener, on libpulse's thread.
class Ear {
 public:
  explicit Ear(void (*heard)(double us, void* data), void* data) : heard_(heard), data_(data) {}
  ~Ear() {
    if (loop_ == nullptr) return;
    pa_threaded_mainloop_stop(loop_);
    if (stream_ != nullptr) pa_stream_unref(stream_);
    if (context_ != nullptr) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    pa_threaded_mainloop_free(loop_);
  }

  bool Open() {
    loop_ = pa_threaded_mainloop_new();
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "heard");
    pa_context_set_state_callback(context_, Signal, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    pa_threaded_mainloop_lock(loop_);
    pa_threaded_mainloop_start(loop_);
    bool ok = false;
    for (;;) {
      const pa_context_state_t s = pa_context_get_state(context_);
      if (s == PA_CONTEXT_READY) {
        ok = true;
        break;
      }
      if (!PA_CONTEXT_IS_GOOD(s)) break;
      pa_threaded_mainloop_wait(loop_);
    }
    if (ok) {
      const pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 2};
      stream_ = pa_stream_new(context_, "heard", &spec, nullptr);
      pa_stream_set_state_callback(stream_, StreamSignal, this);
      pa_stream_set_read_callback(stream_, OnRead, this);
      pa_buffer_attr attr{};
      attr.maxlength = static_cast<uint32_t>(-1);
      attr.fragsize = 88 * 4;  // 2 ms
      ok = pa_stream_connect_record(stream_, MonitorName().c_str(), &attr, PA_STREAM_NOFLAGS) == 0;
      while (ok) {
        const pa_stream_state_t s = pa_stream_get_state(stream_);
        if (s == PA_STREAM_READY) break;
        if (!PA_STREAM_IS_GOOD(s)) ok = false;
        if (ok) pa_threaded_mainloop_wait(loop_);
      }
    }
    pa_threaded_mainloop_unlock(loop_);
    return ok;
  }

 private:
  static void Signal(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<Ear*>(self)->loop_, 0);
  }
  static void StreamSignal(pa_stream*, void* self) {
    pa_threaded_mainloop_signal(static_cast<Ear*>(self)->loop_, 0);
  }
  static void OnRead(pa_stream* stream, size_t, void* self) {
    auto* ear = static_cast<Ear*>(self);
    const double now = RealtimeUs();
    // Everything readable came in by now: a frame's time is now less what came after it.
    size_t after = pa_stream_readable_size(stream) / 4;
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
      const size_t frames = bytes / 4;
      after -= std::min(after, frames);
      if (data != nullptr) {
        const auto* s = static_cast<const int16_t*>(data);
        for (size_t f = 0; f < frames; ++f) {
          const bool loud = std::abs(s[2 * f]) >= kAudible || std::abs(s[2 * f + 1]) >= kAudible;
          if (loud && ear->quiet_ >= kSilenceFrames) {
            ear->heard_(now - 1e6 * static_cast<double>(frames - f + after) / kRate, ear->data_);
          }
          ear->quiet_ = loud ? 0 : ear->quiet_ + 1;
        }
      }
      pa_stream_drop(stream);
    }
  }

  void (*heard_)(double, void*);
  void* data_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  uint64_t quiet_ = kSilenceFrames;  // on libpulse's thread only
};

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
  Ear ear(
      [](double us, void* data) {
        auto* f = static_cast<FirstHeard*>(data);
        std::lock_guard lock(f->mutex);
        if (f->at == 0 && us >= f->since) f->at = us;
      },
      &first);
  if (!ear.Open()) {
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
  }
  std::vector<double> ms;
  for (int run = 0; run < runs; ++run) {
    // The sink settles (idle, or with the other stream alone) before each start.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    {
      std::lock_guard lock(first.mutex);
      first.at = 0;
      first.since = RealtimeUs();
    }
    const double started = RealtimeUs();
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
  Ear ear(
      [](double us, void*) {
        std::printf("%.0f\n", us);
        std::fflush(stdout);
      },
      nullptr);
  if (!ear.Open()) {
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
