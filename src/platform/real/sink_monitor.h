// sink_monitor.h -- a recorder on a PulseAudio sink's monitor: what reached the sink, and when,
// for the tests and benchmarks that measure how soon the game is heard and whether it plays
// without a break. It asks the server for no latency of its own: a monitor stream that did
// would keep an idle sink awake and hide what a player meets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qv {

class SinkMonitor {
 public:
  // A piece of what the sink played: `frames` stereo 16-bit frames (left, right interleaved) at
  // 44.1 kHz, the last of which reached the monitor at `last_us` (CLOCK_REALTIME,
  // microseconds). Called on libpulse's thread, in order.
  using Listener = std::function<void(const int16_t* samples, size_t frames, double last_us)>;

  // Records the monitor of the sink named (PULSE_SINK's, else the server's default, when
  // empty) in pieces of about 2 ms; nothing when no PulseAudio server answers.
  static std::unique_ptr<SinkMonitor> Open(const std::string& sink, Listener listener);
  virtual ~SinkMonitor() = default;
};

// Microseconds of CLOCK_REALTIME, the clock SinkMonitor stamps with (bash's EPOCHREALTIME).
double RealtimeUs();

}  // namespace qv
