// virtual_platform.cpp -- the virtual machine: clock, keyboard, buffers, timer and transfer.
#include "platform/virtual/virtual_platform.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <stdexcept>

#include "platform/wave_file.h"

namespace qv {

VirtualPlatform::VirtualPlatform(VirtualOptions options)
    : options_(std::move(options)), now_(options_.tick0) {}

uint32_t VirtualPlatform::ClockSeed() {
  // Reproducible: the same seed and the same moment give the same numbers.
  return now_ * 2654435761u ^ options_.seed;
}

WindowEvents VirtualPlatform::ProcessEvents(std::optional<uint32_t>) {
  if (Elapsed() >= options_.until_ms) throw UntilReached{};
  ++now_;
  WindowEvents ev;
  // Like the real window system: a key that went down during this turn reads as down at the
  // next read even if it is already up again; a turn later it is forgotten.
  std::fill(std::begin(tapped_), std::end(tapped_), 0);
  if (turn_hook_) turn_hook_();
  if (timer_enabled_ && static_cast<int32_t>(now_ - next_timer_tick_) >= 0) {
    ev.timer_ticks = 1;
    next_timer_tick_ += kTimerPeriodMs;
  }
  if (transfer_running_ && options_.http_delay_ms >= 0 &&
      static_cast<int32_t>(now_ - transfer_ends_) >= 0) {
    transfer_running_ = false;
    transfer_status_ = options_.http_status;
    Tell("http", 0, transfer_url_, "end " + std::to_string(transfer_status_));
  }
  AdvanceSounds();
  ev.close_requested = close_pending_;
  close_pending_ = false;
  if (turn_end_hook_) turn_end_hook_();
  return ev;
}

void VirtualPlatform::AdvanceSounds() {
  for (auto& [id, b] : buffers_) {
    if (!b.playing) continue;
    // frequency / 1000 frames a millisecond, counted in thousandths of a frame.
    b.position_milli += static_cast<uint64_t>(std::max(b.frequency, 0));
    const uint64_t end = static_cast<uint64_t>(b.frames) * 1000;
    if (b.position_milli < end) continue;
    if (b.looping && end > 0) {
      b.position_milli %= end;
    } else {
      b.playing = false;  // played to its end: the next Play starts from the beginning
      b.position_milli = 0;
    }
  }
}

void VirtualPlatform::MessageBox(const std::string& text) {
  Tell("message", 0, text, "");
  std::fprintf(stderr, "QuorVane: %s\n", text.c_str());
}

void VirtualPlatform::Terminate(int status) {
  Tell("exit", 0, "", std::to_string(status));
  buffers_.clear();
  throw ProgramEnded{status};
}

void VirtualPlatform::SetTimerEnabled(bool enabled) {
  if (enabled && !timer_enabled_) next_timer_tick_ = now_ + kTimerPeriodMs;
  timer_enabled_ = enabled;
  Tell("timer", 0, "Timer1", enabled ? "on" : "off");
}

bool VirtualPlatform::CreateKeyboard() {
  if (!window_shown_) return false;
  keyboard_created_ = true;
  acquired_ = false;
  lost_since_read_ = false;
  return true;
}

bool VirtualPlatform::AcquireKeyboard() {
  if (!keyboard_created_ || !focused_) return false;
  acquired_ = true;
  return true;
}

KeyRead VirtualPlatform::ReadKeyboard(uint8_t state[256]) {
  if (!keyboard_created_) return KeyRead::OtherError;
  if (lost_since_read_) {
    lost_since_read_ = false;
    return KeyRead::InputLost;
  }
  if (!acquired_) return KeyRead::NotAcquired;
  for (int k = 0; k < 256; ++k) state[k] = keys_[k] | tapped_[k];
  std::fill(std::begin(tapped_), std::end(tapped_), 0);  // a tap is seen by one read
  return KeyRead::Ok;
}

void VirtualPlatform::SetKey(int scan_code, bool down) {
  keys_[scan_code & 0xFF] = down ? 0x80 : 0;
  if (down) tapped_[scan_code & 0xFF] = 0x80;
}

void VirtualPlatform::SetFocus(bool focused) {
  if (!focused && focused_ && acquired_) lost_since_read_ = true;
  if (!focused) acquired_ = false;
  focused_ = focused;
}

BufferId VirtualPlatform::CreateBuffer(const std::string& file) {
  WaveFormat info;
  try {
    info = ReadWaveFormat(options_.sounds_dir + "/" + file);
  } catch (const WaveError& e) {
    throw PlatformError("Cannot load sound file " + file + ": " + e.what());
  }
  Buffer b;
  b.file = file;
  b.rate = info.rate;
  b.channels = info.channels;
  b.bytes_per_frame = static_cast<uint16_t>(info.channels * info.bits / 8);
  b.frames = info.frames;
  b.frequency = static_cast<int>(info.rate);
  BufferId id = next_id_++;
  buffers_[id] = b;
  Tell("load", id, file, "");
  return id;
}

VirtualPlatform::Buffer& VirtualPlatform::Get(BufferId id) {
  auto it = buffers_.find(id);
  if (it == buffers_.end())
    throw PlatformError("Sound buffer " + std::to_string(id) + " does not exist.");
  return it->second;
}

void VirtualPlatform::TellBuffer(std::string_view op, BufferId id, std::string_view value) {
  Tell(op, id, Get(id).file, value);
}

const VirtualPlatform::Buffer* VirtualPlatform::FindBuffer(BufferId id) const {
  auto it = buffers_.find(id);
  return it == buffers_.end() ? nullptr : &it->second;
}

void VirtualPlatform::Play(BufferId id, PlayMode mode) {
  Buffer& b = Get(id);
  b.playing = true;
  b.looping = mode == kPlayLooping;
  TellBuffer("play", id, b.looping ? "loop" : "once");
}

void VirtualPlatform::Stop(BufferId id) {
  Get(id).playing = false;
  TellBuffer("stop", id, "");
}

void VirtualPlatform::SetCurrentPosition(BufferId id, uint32_t byte_offset) {
  Buffer& b = Get(id);
  b.position_milli = std::min<uint64_t>(byte_offset / b.bytes_per_frame, b.frames) * 1000;
  TellBuffer("position", id, std::to_string(byte_offset));
}

void VirtualPlatform::SetVolume(BufferId id, int hundredths_db) {
  Get(id).volume = hundredths_db;
  TellBuffer("volume", id, std::to_string(hundredths_db));
}

void VirtualPlatform::SetPan(BufferId id, int pan) {
  Get(id).pan = pan;
  TellBuffer("pan", id, std::to_string(pan));
}

void VirtualPlatform::SetFrequency(BufferId id, int hertz) {
  Get(id).frequency = hertz;
  TellBuffer("frequency", id, std::to_string(hertz));
}

int VirtualPlatform::GetStatus(BufferId id) {
  const Buffer& b = Get(id);
  return b.playing ? kStatusPlaying | (b.looping ? kStatusLooping : 0) : 0;
}

void VirtualPlatform::Release(BufferId id) {
  const std::string file = Get(id).file;
  buffers_.erase(id);
  Tell("release", id, file, "");
}

void VirtualPlatform::StartTransfer(const std::string& url, const std::string& body) {
  transfer_running_ = true;
  transfer_status_ = 0;
  transfer_ends_ = now_ + static_cast<uint32_t>(options_.http_delay_ms);
  transfer_url_ = url;
  transfer_body_ = body;
  Tell("http", 0, url, "start");
}

}  // namespace qv
