// output.cpp -- the outputs: a PulseAudio stream (PipeWire's PulseAudio server too) that mixes
// in the server's own request for more, SDL's audio device for the rest (ALSA), and the wave
// writer that stands in for both in tests.
#include "platform/real/output.h"

#include <SDL.h>
#include <pulse/pulseaudio.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/mixer.h"
#include "platform/wave_file.h"

namespace qv {

namespace {

// Real-time scheduling for the calling thread (the audio output's), so that a compile beside
// the game does not starve it of its 10 ms: directly where RLIMIT_RTPRIO or CAP_SYS_NICE allows
// it, else through rtkit over D-Bus (SDL's call tries it), as desktops with PipeWire or
// PulseAudio usually allow. SDL itself only lowers the thread's nice value, where it may; and
// its own real-time hint did not take here even as root. Where nothing is allowed, the thread
// runs as it was. The thread takes about 1 % of one core, so the rest of the machine loses
// nothing it would notice.
void RaiseThisThread() {
  int priority = 5;
  rlimit limit{};
  if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      limit.rlim_cur > 0 && limit.rlim_cur < 5) {
    priority = static_cast<int>(limit.rlim_cur);
  }
  sched_param param{};
  param.sched_priority = priority;
  if (sched_setscheduler(0, SCHED_RR | SCHED_RESET_ON_FORK, &param) == 0) return;
  SDL_LinuxSetThreadPriorityAndPolicy(static_cast<Sint64>(gettid()),
                                      SDL_THREAD_PRIORITY_TIME_CRITICAL, SCHED_RR);
}

// A stream on the PulseAudio server, which PulseAudio and PipeWire desktops both run. The mix
// is made in the server's request for more, on libpulse's one thread: no hand-over between
// threads. The server asks for half the buffer at a time. In play the buffer is 10 ms, so 5-10
// ms from mix to output and 200 requests a second (SDL's PulseAudio output, at the same
// latency, let the server ask in quarters and woke 750 times a second, for a third more CPU);
// while nothing needs speed it is 35 ms, under a third of the requests, for the game and the server
// alike. The server changes a stream's buffer in place: no gap, no reopening; what is queued
// plays out, so a smaller buffer is reached within the larger one's length.
//
// When the server runs dry in play (a compile beside the game can delay the server's own main
// thread, which carries every client's sound, past 10 ms), the buffer grows to 16 ms, still
// about 13 ms from mix to output, for as long as the machine stays busy; after 30 s without
// running dry it goes back to 10 ms.
//
// Nothing is sent until there is something to hear: the server's first request, made as the
// stream opens while the game is still loading its sounds, is answered when the first sound
// starts (Wake), with the mix that begins with it. Answered at once with silence, it would
// start the stream on an idle sink, which asks again only when its own timer, set for its idle
// block of about half a second, runs out: the first sound was heard 0.4-0.5 s late.
//
// The server drops the first frames a stream sends, up to 19 (0.4 ms) on a null sink, seen
// by a recorder on its monitor, so that first mix is sent behind 2 ms of silence: the first
// sound starts from its first frame, not with a step in the middle of it.
class PulseOutput : public Output {
 public:
  static std::unique_ptr<Output> Open(Mixer& mixer, bool quick) {
    auto output = std::unique_ptr<PulseOutput>(new PulseOutput(mixer, quick));
    return output->Connect() ? std::move(output) : nullptr;
  }
  ~PulseOutput() override {
    if (loop_ == nullptr) return;
    pa_threaded_mainloop_lock(loop_);
    if (stream_ != nullptr) {
      pa_stream_set_write_callback(stream_, nullptr, nullptr);
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
    }
    if (context_ != nullptr) {
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
  }
  bool Lost() override { return lost_; }

  uint64_t Heard() override {
    const uint64_t mixed = mixer_.Mixed();
    const int64_t at = heard_at_us_.load();
    if (at == 0) {
      // No time from the server yet: all it holds is still to be heard.
      const uint64_t held = buffer_frames_.load();
      return mixed > held ? mixed - held : 0;
    }
    const int64_t since = std::max<int64_t>(0, NowUs() - at);
    const uint64_t heard =
        heard_frame_.load() + static_cast<uint64_t>(since) * kOutputRate / 1000000;
    return std::min(heard, mixed);
  }

  void SetQuick(bool quick) override {
    pa_threaded_mainloop_lock(loop_);
    quick_ = quick;
    if (Wanted() != buffer_frames_) Resize(Wanted());
    pa_threaded_mainloop_unlock(loop_);
  }

  void Wake() override {
    if (started_.load()) return;
    pa_threaded_mainloop_lock(loop_);
    if (!started_.load() && mixer_.Sounding()) Start(stream_, pa_stream_writable_size(stream_));
    pa_threaded_mainloop_unlock(loop_);
  }

 private:
  PulseOutput(Mixer& mixer, bool quick) : mixer_(mixer), quick_(quick) {
    buffer_frames_ = Wanted();
  }

  static int64_t NowUs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
  }

  bool Connect() {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) return false;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "QuorVane");
    if (context_ == nullptr) return false;
    pa_context_set_state_callback(context_, OnContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0) {
      return false;
    }
    pa_threaded_mainloop_lock(loop_);
    const uint32_t idle_sink = WaitForContext() ? IdleVirtualSink() : PA_INVALID_INDEX;
    const bool made = pa_context_get_state(context_) == PA_CONTEXT_READY && MakeStream();
    if (made && idle_sink != PA_INVALID_INDEX) Restart(idle_sink);
    pa_threaded_mainloop_unlock(loop_);
    return made;
  }

  // Under libpulse's lock: waits for an operation to finish, and drops it.
  void Await(pa_operation* op) {
    if (op == nullptr) return;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop_);
    pa_operation_unref(op);
  }
  static void Done(pa_context* /*context*/, int /*success*/, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseOutput*>(self)->loop_, 0);
  }

  // A PulseAudio sink with nothing to play renders its longest block ahead, two seconds of
  // silence for a null sink, and a stream that joins it cannot have that taken back: the
  // sink's rewind is bounded by the new stream's own small latency (PulseAudio's sink.c says
  // so in a FIXME). A sound card's sink takes it back itself when its latency falls; one that
  // is not a card (a null sink, which servers without a card and test rigs run) is heard only
  // once its block has played out, up to two seconds after the game starts. Such a sink, when
  // idle (no stream plays on it, so no one hears the difference), is suspended and resumed
  // once the game's stream is on it, as PulseAudio does itself with idle sinks: it starts
  // again from now, in blocks of the game's latency. The sink's index, or PA_INVALID_INDEX
  // when it need not be. Under libpulse's lock, as Restart.
  uint32_t IdleVirtualSink() {
    struct Found {
      PulseOutput* self;
      std::string sink;
      bool idle_virtual = false;
      uint32_t index = PA_INVALID_INDEX;
    } found{this, "", false, PA_INVALID_INDEX};
    if (const char* named = std::getenv("PULSE_SINK"); named != nullptr && named[0] != '\0') {
      found.sink = named;
    } else {
      Await(pa_context_get_server_info(
          context_,
          [](pa_context*, const pa_server_info* info, void* data) {
            auto* f = static_cast<Found*>(data);
            // PipeWire's server runs its sinks from its own clock: nothing to restart.
            if (info != nullptr && info->default_sink_name != nullptr &&
                std::strstr(info->server_name, "PipeWire") == nullptr) {
              f->sink = info->default_sink_name;
            }
            pa_threaded_mainloop_signal(f->self->loop_, 0);
          },
          &found));
    }
    if (found.sink.empty()) return PA_INVALID_INDEX;
    Await(pa_context_get_sink_info_by_name(
        context_, found.sink.c_str(),
        [](pa_context*, const pa_sink_info* info, int eol, void* data) {
          auto* f = static_cast<Found*>(data);
          if (eol == 0 && info != nullptr) {
            f->idle_virtual = info->state == PA_SINK_IDLE && (info->flags & PA_SINK_HARDWARE) == 0;
            f->index = info->index;
          }
          if (eol != 0) pa_threaded_mainloop_signal(f->self->loop_, 0);
        },
        &found));
    return found.idle_virtual ? found.index : PA_INVALID_INDEX;
  }
  void Restart(uint32_t sink) {
    Await(pa_context_suspend_sink_by_index(context_, sink, 1, Done, this));
    Await(pa_context_suspend_sink_by_index(context_, sink, 0, Done, this));
  }

  bool WaitForContext() {
    for (;;) {
      const pa_context_state_t state = pa_context_get_state(context_);
      if (state == PA_CONTEXT_READY) return true;
      if (!PA_CONTEXT_IS_GOOD(state)) return false;
      pa_threaded_mainloop_wait(loop_);
    }
  }

  bool MakeStream() {
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, kOutputRate, 2};
    stream_ = pa_stream_new(context_, "QuorVane", &format, nullptr);
    if (stream_ == nullptr) return false;
    pa_stream_set_state_callback(stream_, OnStreamState, this);
    pa_stream_set_write_callback(stream_, OnWrite, this);
    pa_stream_set_underflow_callback(stream_, OnUnderflow, this);
    const pa_buffer_attr buffer = Buffer(buffer_frames_);
    // The server's clock, interpolated between its updates, tells which frame is being heard.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING);
    if (pa_stream_connect_playback(stream_, nullptr, &buffer, flags, nullptr, nullptr) < 0) {
      return false;
    }
    for (;;) {
      const pa_stream_state_t state = pa_stream_get_state(stream_);
      if (state == PA_STREAM_READY) return true;
      if (!PA_STREAM_IS_GOOD(state)) return false;
      pa_threaded_mainloop_wait(loop_);
    }
  }

  // The buffer wanted now: 35 ms while nothing needs speed, else 10 ms, or 16 ms while the
  // server runs dry.
  uint32_t Wanted() const {
    if (!quick_) return kCalmOutputFrames;
    return busy_ ? kBusyFrames : kOutputPeriodFrames;
  }

  // A buffer of this many frames, asked for half at a time.
  static pa_buffer_attr Buffer(uint32_t frames) {
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<uint32_t>(-1);
    buffer.tlength = frames * kFrameBytes;
    buffer.prebuf = static_cast<uint32_t>(-1);
    buffer.minreq = frames / 2 * kFrameBytes;
    buffer.fragsize = static_cast<uint32_t>(-1);
    return buffer;
  }
  // Under libpulse's lock: asks the server for a buffer of this many frames from now on.
  void Resize(uint32_t frames) {
    buffer_frames_ = frames;
    const pa_buffer_attr buffer = Buffer(frames);
    if (pa_operation* op = pa_stream_set_buffer_attr(stream_, &buffer, nullptr, nullptr)) {
      pa_operation_unref(op);
    }
  }

  // Under libpulse's lock: the stream's first data, the lead of silence and then the mix.
  void Start(pa_stream* stream, size_t bytes) {
    started_ = true;
    void* data = nullptr;
    size_t size = kLeadFrames * kFrameBytes;
    if (pa_stream_begin_write(stream, &data, &size) == 0 && data != nullptr) {
      lead_ = std::min<size_t>(size, kLeadFrames * kFrameBytes) / kFrameBytes;
      std::memset(data, 0, lead_ * kFrameBytes);
      pa_stream_write(stream, data, lead_ * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE);
    }
    Send(stream, bytes > lead_ * kFrameBytes ? bytes - lead_ * kFrameBytes : 0);
  }

  // Under libpulse's lock: mixes and writes this many bytes, then notes which frame the server
  // says is being heard.
  void Send(pa_stream* stream, size_t bytes) {
    while (bytes >= kFrameBytes) {
      void* data = nullptr;
      size_t size = bytes;
      if (pa_stream_begin_write(stream, &data, &size) < 0 || data == nullptr) break;
      const size_t frames = std::min(size, bytes) / kFrameBytes;
      if (frames == 0) {
        pa_stream_cancel_write(stream);
        break;
      }
      mixer_.Mix(static_cast<float*>(data), frames);
      pa_stream_write(stream, data, frames * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE);
      written_ += frames;
      bytes -= frames * kFrameBytes;
    }
    // The server's clock, asked for twice a second (libpulse's own automatic updates ask after
    // every write, a round trip each time), and interpolated between.
    if (written_ >= next_timing_) {
      next_timing_ = written_ + kOutputRate / 2;
      if (pa_operation* op = pa_stream_update_timing_info(stream, nullptr, nullptr)) {
        pa_operation_unref(op);
      }
    }
    pa_usec_t usec = 0;
    if (written_ > 0 && pa_stream_get_time(stream, &usec) == 0) {
      // The stream's frames and the mixer's differ by what the mixer made before this stream,
      // and by the lead.
      const uint64_t before = mixer_.Mixed() - written_;
      const uint64_t played = usec * kOutputRate / 1000000;
      heard_frame_ = before + std::min<uint64_t>(written_, played > lead_ ? played - lead_ : 0);
      heard_at_us_ = NowUs();
    }
  }

  // On libpulse's thread, as every callback below.
  static void OnUnderflow(pa_stream* /*stream*/, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    output->frames_since_underflow_ = 0;
    output->busy_ = true;
    if (output->buffer_frames_ != output->Wanted()) output->Resize(output->Wanted());
  }
  static void OnContextState(pa_context* context, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) output->lost_ = true;
    pa_threaded_mainloop_signal(output->loop_, 0);
  }
  static void OnStreamState(pa_stream* stream, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) output->lost_ = true;
    pa_threaded_mainloop_signal(output->loop_, 0);
  }
  static void OnWrite(pa_stream* stream, size_t bytes, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    if (!output->raised_) {
      RaiseThisThread();
      output->raised_ = true;
    }
    if (!output->started_.load()) {
      if (output->mixer_.Sounding()) output->Start(stream, bytes);  // else Wake starts it
      return;
    }
    if (output->busy_) {
      output->frames_since_underflow_ += bytes / kFrameBytes;
      if (output->frames_since_underflow_ >= kQuietFrames) {
        output->busy_ = false;
        if (output->buffer_frames_ != output->Wanted()) output->Resize(output->Wanted());
      }
    }
    output->Send(stream, bytes);
  }

  static constexpr uint32_t kFrameBytes = 2 * sizeof(float);
  static constexpr uint32_t kBusyFrames = kOutputRate * 16 / 1000;
  static constexpr uint32_t kLeadFrames = kOutputRate * 2 / 1000;
  static constexpr uint64_t kQuietFrames = uint64_t{kOutputRate} * 30;

  Mixer& mixer_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  std::atomic<bool> lost_{false};
  std::atomic<bool> started_{false};  // something has been sent
  // The frame the server last said was being heard, and when (0: not yet).
  std::atomic<uint64_t> heard_frame_{0};
  std::atomic<int64_t> heard_at_us_{0};
  // Touched by libpulse's thread only, or under its lock.
  bool raised_ = false;
  bool quick_;
  bool busy_ = false;                       // ran dry in play lately
  std::atomic<uint32_t> buffer_frames_{0};  // set under the lock
  uint64_t frames_since_underflow_ = 0;
  uint64_t lead_ = 0;         // frames of silence sent before the first mix
  uint64_t written_ = 0;      // frames of the mix sent on this stream
  uint64_t next_timing_ = 0;  // when to ask the server's clock again, in frames sent
};

// The default device through SDL, where there is no PulseAudio server (ALSA, or PipeWire's own
// protocol). The callback runs on SDL's audio thread.
class SdlOutput : public Output {
 public:
  static std::unique_ptr<Output> Open(Mixer& mixer) {
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "QuorVane");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "QuorVane");
    // Each open starts SDL's audio afresh, so that after a lost server the outputs are looked
    // for again (PipeWire, PulseAudio, then ALSA).
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return nullptr;
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(kOutputRate);
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = kOutputPeriodFrames;
    want.callback = Pull;
    auto output = std::unique_ptr<SdlOutput>(new SdlOutput(mixer));
    want.userdata = output.get();
    SDL_AudioSpec have{};
    output->device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (output->device_ == 0) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return nullptr;
    }
    SDL_PauseAudioDevice(output->device_, 0);
    return output;
  }
  ~SdlOutput() override {
    if (device_ == 0) return;
    SDL_CloseAudioDevice(device_);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  // SDL marks an opened device it has lost as stopped (its callback goes on, unheard, so the
  // game's sounds still end in time).
  bool Lost() override { return SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED; }
  // SDL tells no position: the period it has and one more in the device, as a guess.
  uint64_t Heard() override {
    const uint64_t mixed = mixer_.Mixed();
    return mixed > 2u * kOutputPeriodFrames ? mixed - 2u * kOutputPeriodFrames : 0;
  }

 private:
  explicit SdlOutput(Mixer& mixer) : mixer_(mixer) {}
  static void Pull(void* self, Uint8* out, int bytes) {
    auto* output = static_cast<SdlOutput*>(self);
    if (!output->raised_) {
      RaiseThisThread();
      output->raised_ = true;
    }
    output->mixer_.Mix(reinterpret_cast<float*>(out),
                       static_cast<size_t>(bytes) / (2 * sizeof(float)));
  }
  Mixer& mixer_;
  SDL_AudioDeviceID device_ = 0;
  bool raised_ = false;  // touched by the output's thread only
};

// The mix written to a 16-bit stereo wave file as fast as a device would play it: a period
// every period's worth of real time (more at once after a stall, so the file keeps pace with
// the clock), mixed ahead by what a device would hold (10 ms, or 35 ms while nothing needs
// speed) and in the pieces a sound server asks for (half that, once half has played), so that
// the tests hear the game, and its sounds end, as on a player's desktop. The header is kept right
// after every write, so a program killed mid-way still leaves a file every reader takes.
class WaveOutput : public Output {
 public:
  // Throws WaveError when the file cannot be created.
  WaveOutput(Mixer& mixer, const std::string& path, bool quick)
      : mixer_(mixer), file_(path, kOutputRate, 2), base_(mixer.Mixed()) {
    SetQuick(quick);
    file_.Flush();
    thread_ = std::thread([this] { Run(); });
  }
  ~WaveOutput() override {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  bool Lost() override { return false; }
  // Each period is written when it is due: the file is heard as it is written.
  uint64_t Heard() override { return base_ + written_.load(); }
  void SetQuick(bool quick) override { held_ = quick ? kOutputPeriodFrames : kCalmOutputFrames; }

 private:
  void Run() {
    RaiseThisThread();  // as a device's thread would be, so its pace holds on a busy machine
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto period = std::chrono::duration<double>(double{kOutputPeriodFrames} / kOutputRate);
    constexpr size_t kPeriodSamples = 2 * size_t{kOutputPeriodFrames};
    std::vector<float> mix(kPeriodSamples);
    std::deque<float> held;  // mixed, not yet due
    std::unique_lock lock(mutex_);
    while (!stop_) {
      lock.unlock();
      const double due = std::chrono::duration<double>(Clock::now() - start) / period;
      while (static_cast<double>(periods_) < due) {
        const size_t full = kPeriodSamples + 2 * size_t{held_.load()};
        if (held.size() < full - held_.load()) {
          mix.resize(full - held.size());
          mixer_.Mix(mix.data(), mix.size() / 2);
          held.insert(held.end(), mix.begin(), mix.end());
        }
        mix.resize(kPeriodSamples);
        std::copy_n(held.begin(), kPeriodSamples, mix.begin());
        held.erase(held.begin(), held.begin() + kPeriodSamples);
        file_.Append(mix.data(), kOutputPeriodFrames);
        ++periods_;
        written_ += kOutputPeriodFrames;
      }
      file_.Flush();
      lock.lock();
      wake_.wait_until(lock, start + std::chrono::duration_cast<Clock::duration>(
                                         period * static_cast<double>(periods_)));
    }
  }

  Mixer& mixer_;
  WaveWriter file_;      // closed, its header complete, when the output goes
  const uint64_t base_;  // what the mixer made before this output
  std::atomic<uint32_t> held_{kOutputPeriodFrames};
  std::atomic<uint64_t> written_{0};
  uint64_t periods_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<Output> OpenOutput(Mixer& mixer, bool quick, bool sdl_too) {
  const char* capture = std::getenv(kCaptureVariable);
  if (capture != nullptr && capture[0] != '\0') {
    try {
      return std::make_unique<WaveOutput>(mixer, capture, quick);
    } catch (const WaveError&) {
      return nullptr;
    }
  }
  // A player who names one of SDL's outputs (SDL_AUDIODRIVER=alsa) gets it.
  if (std::getenv("SDL_AUDIODRIVER") == nullptr) {
    if (std::unique_ptr<Output> pulse = PulseOutput::Open(mixer, quick)) return pulse;
  }
  return sdl_too ? SdlOutput::Open(mixer) : nullptr;
}

}  // namespace qv
