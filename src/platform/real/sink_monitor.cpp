// sink_monitor.cpp -- a record stream on a sink's monitor, each piece stamped as it comes.
#include "platform/real/sink_monitor.h"

#include <pulse/pulseaudio.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>

namespace qv {

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kFrameBytes = 4;

class PulseSinkMonitor : public SinkMonitor {
 public:
  explicit PulseSinkMonitor(Listener listener) : listener_(std::move(listener)) {}
  ~PulseSinkMonitor() override {
    if (loop_ == nullptr) return;
    pa_threaded_mainloop_stop(loop_);
    if (stream_ != nullptr) {
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
    }
    if (context_ != nullptr) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    pa_threaded_mainloop_free(loop_);
  }

  bool Open(const std::string& sink) {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) return false;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "QuorVane sink monitor");
    if (context_ == nullptr) return false;
    pa_context_set_state_callback(context_, Signal, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    pa_threaded_mainloop_lock(loop_);
    bool ok = pa_threaded_mainloop_start(loop_) == 0 && WaitForContext() && Record(sink);
    pa_threaded_mainloop_unlock(loop_);
    return ok;
  }

 private:
  bool WaitForContext() {
    for (;;) {
      const pa_context_state_t s = pa_context_get_state(context_);
      if (s == PA_CONTEXT_READY) return true;
      if (!PA_CONTEXT_IS_GOOD(s)) return false;
      pa_threaded_mainloop_wait(loop_);
    }
  }

  bool Record(std::string sink) {
    if (sink.empty()) {
      const char* named = std::getenv("PULSE_SINK");
      sink = named != nullptr && named[0] != '\0' ? named : "@DEFAULT_SINK@";
    }
    const std::string monitor = sink == "@DEFAULT_SINK@" ? "@DEFAULT_MONITOR@" : sink + ".monitor";
    const pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 2};
    stream_ = pa_stream_new(context_, "QuorVane sink monitor", &format, nullptr);
    if (stream_ == nullptr) return false;
    pa_stream_set_state_callback(stream_, StreamSignal, this);
    pa_stream_set_read_callback(stream_, OnRead, this);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = 88 * kFrameBytes;  // 2 ms pieces, with no latency asked of the sink
    if (pa_stream_connect_record(stream_, monitor.c_str(), &attr, PA_STREAM_NOFLAGS) < 0) {
      return false;
    }
    for (;;) {
      const pa_stream_state_t s = pa_stream_get_state(stream_);
      if (s == PA_STREAM_READY) return true;
      if (!PA_STREAM_IS_GOOD(s)) return false;
      pa_threaded_mainloop_wait(loop_);
    }
  }

  static void Signal(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseSinkMonitor*>(self)->loop_, 0);
  }
  static void StreamSignal(pa_stream*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseSinkMonitor*>(self)->loop_, 0);
  }
  static void OnRead(pa_stream* stream, size_t, void* self) {
    auto* monitor = static_cast<PulseSinkMonitor*>(self);
    const double now = RealtimeUs();
    // All that is readable came in by now: a piece's last frame, less what came after it.
    size_t after = pa_stream_readable_size(stream) / kFrameBytes;
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
      const size_t frames = bytes / kFrameBytes;
      after -= std::min(after, frames);
      if (data != nullptr) {
        monitor->listener_(static_cast<const int16_t*>(data), frames,
                           now - 1e6 * static_cast<double>(after) / kRate);
      }
      pa_stream_drop(stream);
    }
  }

  Listener listener_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
};

}  // namespace

std::unique_ptr<SinkMonitor> SinkMonitor::Open(const std::string& sink, Listener listener) {
  auto monitor = std::make_unique<PulseSinkMonitor>(std::move(listener));
  if (!monitor->Open(sink)) return nullptr;
  return monitor;
}

double RealtimeUs() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

}  // namespace qv
