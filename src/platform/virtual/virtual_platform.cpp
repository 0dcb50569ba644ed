// virtual_platform.cpp -- the virtual machine: clock, keyboard, buffers, timer, transfer,
// settings, and the script and bot that play it.
#include "platform/virtual/virtual_platform.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "platform/virtual/wav_info.h"

namespace qv {

VirtualPlatform::VirtualPlatform(VirtualOptions options, SoundLog& log)
    : options_(std::move(options)),
      log_(log),
      store_(options_.settings_path),
      now_(options_.tick0) {
  log_.SetListener([this](const LogEntry& e) { OnLogEntry(e); });
}

uint32_t VirtualPlatform::ClockSeed() {
  // Reproducible: the same seed and the same moment give the same numbers.
  return now_ * 2654435761u ^ options_.seed;
}

WindowEvents VirtualPlatform::ProcessEvents() {
  if (Elapsed() >= options_.until_ms) throw UntilReached{};
  ++now_;
  WindowEvents ev;
  RunScript();
  RunBot();
  if (timer_enabled_ && static_cast<int32_t>(now_ - next_timer_tick_) >= 0) {
    ev.timer_ticks = 1;
    next_timer_tick_ += 500;
  }
  if (transfer_running_ && options_.http_delay_ms >= 0 &&
      static_cast<int32_t>(now_ - transfer_ends_) >= 0) {
    transfer_running_ = false;
    transfer_status_ = options_.http_status;
  }
  AdvanceSounds();
  ev.close_requested = close_pending_;
  close_pending_ = false;
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
  std::fprintf(stderr, "QuorVane: %s\n", text.c_str());
}

void VirtualPlatform::Terminate(int status) {
  buffers_.clear();
  throw ProgramEnded{status};
}

void VirtualPlatform::SetTimerEnabled(bool enabled) {
  if (enabled && !timer_enabled_) next_timer_tick_ = now_ + 500;
  timer_enabled_ = enabled;
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
  for (int k = 0; k < 256; ++k) state[k] = keys_[k];
  return KeyRead::Ok;
}

void VirtualPlatform::SetKey(int scan_code, bool down) {
  keys_[scan_code & 0xFF] = down ? 0x80 : 0;
  log_.Add(LogEntry{Elapsed(), "key", 0, KeyName(scan_code), down ? "down" : "up"});
}

void VirtualPlatform::SetFocus(bool focused) {
  if (!focused && focused_ && acquired_) lost_since_read_ = true;
  if (!focused) acquired_ = false;
  focused_ = focused;
}

BufferId VirtualPlatform::CreateBuffer(const std::string& file) {
  WavInfo info = ReadWavInfo(options_.sounds_dir + "/" + file, file);
  Buffer b;
  b.file = file;
  b.rate = info.sample_rate;
  b.channels = info.channels;
  b.bytes_per_frame = static_cast<uint16_t>(info.channels * info.bits_per_sample / 8);
  b.frames = info.frames;
  b.frequency = static_cast<int>(info.sample_rate);
  BufferId id = next_id_++;
  buffers_[id] = b;
  return id;
}

VirtualPlatform::Buffer& VirtualPlatform::Get(BufferId id) {
  auto it = buffers_.find(id);
  if (it == buffers_.end())
    throw PlatformError("Sound buffer " + std::to_string(id) + " does not exist.");
  return it->second;
}

const VirtualPlatform::Buffer* VirtualPlatform::FindBuffer(BufferId id) const {
  auto it = buffers_.find(id);
  return it == buffers_.end() ? nullptr : &it->second;
}

void VirtualPlatform::Play(BufferId id, int flags) {
  Buffer& b = Get(id);
  b.playing = true;
  b.looping = (flags & kPlayLooping) != 0;
}

void VirtualPlatform::Stop(BufferId id) { Get(id).playing = false; }

void VirtualPlatform::SetCurrentPosition(BufferId id, uint32_t byte_offset) {
  Buffer& b = Get(id);
  b.position_milli = std::min<uint64_t>(byte_offset / b.bytes_per_frame, b.frames) * 1000;
}

void VirtualPlatform::SetVolume(BufferId id, int hundredths_db) { Get(id).volume = hundredths_db; }
void VirtualPlatform::SetPan(BufferId id, int pan) { Get(id).pan = pan; }
void VirtualPlatform::SetFrequency(BufferId id, int hertz) { Get(id).frequency = hertz; }

int VirtualPlatform::GetStatus(BufferId id) {
  const Buffer& b = Get(id);
  return (b.playing ? kStatusPlaying : 0) | (b.looping ? kStatusLooping : 0);
}

void VirtualPlatform::Release(BufferId id) {
  Get(id);
  buffers_.erase(id);
}

std::string VirtualPlatform::ReadSetting(const std::string& app, const std::string& section,
                                         const std::string& key, const std::string& default_value) {
  return store_.Read(app, section, key).value_or(default_value);
}

void VirtualPlatform::StoreSetting(const std::string& app, const std::string& section,
                                   const std::string& key, const std::string& value) {
  store_.Store(app, section, key, value);  // throws PlatformError naming the entry
}

void VirtualPlatform::StartTransfer(const std::string&) {
  transfer_running_ = true;
  transfer_status_ = 0;
  transfer_ends_ = now_ + static_cast<uint32_t>(options_.http_delay_ms);
}

bool VirtualPlatform::TransferExecuting() { return transfer_running_; }

// --- script and bot ---------------------------------------------------------------------

void VirtualPlatform::RunScript() {
  const uint32_t t = Elapsed();
  while (script_pc_ < options_.script.size()) {
    const ScriptCommand& c = options_.script[script_pc_];
    const bool first = !command_started_;
    command_started_ = true;
    bool done = false;
    switch (c.kind) {
      case ScriptCommand::Sleep:
        if (first) command_until_ = command_start_ + static_cast<uint32_t>(c.ms);
        done = t >= command_until_;
        break;
      case ScriptCommand::Down:
      case ScriptCommand::Up:
        SetKey(c.key, c.kind == ScriptCommand::Down);
        command_until_ = t;
        done = true;
        break;
      case ScriptCommand::Tap:
        if (first) {
          SetKey(c.key, true);
          command_until_ = t + static_cast<uint32_t>(c.ms);
        }
        if (t >= command_until_) {
          SetKey(c.key, false);
          done = true;
        }
        break;
      case ScriptCommand::Wait:
        if (first) {
          // Entries logged since the previous command ended count too.
          wait_satisfied_ = false;
          for (auto it = log_.Entries().rbegin(); it != log_.Entries().rend(); ++it) {
            if (it->ms < command_start_) break;
            if (it->op == c.op && it->subject == c.subject) wait_satisfied_ = true;
          }
        }
        done = wait_satisfied_;
        command_until_ = t;
        break;
      case ScriptCommand::Close:
        close_pending_ = true;
        command_until_ = t;
        done = true;
        break;
      case ScriptCommand::Blur:
      case ScriptCommand::Focus:
        SetFocus(c.kind == ScriptCommand::Focus);
        command_until_ = t;
        done = true;
        break;
    }
    if (!done) return;
    command_start_ = command_until_;
    command_started_ = false;
    ++script_pc_;
  }
}

void VirtualPlatform::ScheduleTap(int key, uint32_t at) {
  bot_keys_.push_back({at, key, true});
  bot_keys_.push_back({at + 30, key, false});
}

void VirtualPlatform::RunBot() {
  const uint32_t t = Elapsed();
  // Pending keys are few; apply those due in the order they were scheduled.
  for (size_t i = 0; i < bot_keys_.size();) {
    if (bot_keys_[i].at <= t) {
      SetKey(bot_keys_[i].key, bot_keys_[i].down);
      bot_keys_.erase(bot_keys_.begin() + static_cast<long>(i));
    } else {
      ++i;
    }
  }
}

void VirtualPlatform::OnLogEntry(const LogEntry& e) {
  if (script_pc_ < options_.script.size() && command_started_) {
    const ScriptCommand& c = options_.script[script_pc_];
    if (c.kind == ScriptCommand::Wait && e.op == c.op && e.subject == c.subject) {
      wait_satisfied_ = true;
    }
  }
  if (options_.bot_ms < 0) return;
  const uint32_t at = e.ms + static_cast<uint32_t>(options_.bot_ms);
  auto arrow_for = [](int pan) { return pan < 0 ? 203 : pan > 0 ? 205 : 200; };
  const Buffer* b = FindBuffer(e.id);
  if (e.op == "play" && b != nullptr &&
      (e.subject == "launch.wav" || e.subject == "bonusFall.wav")) {
    ScheduleTap(arrow_for(b->pan), at);
  } else if (e.op == "pan" && e.subject == "bonusFall.wav" && b != nullptr && b->playing) {
    ScheduleTap(arrow_for(b->pan), at);
  } else if (e.op == "play" && e.subject == "warning.wav") {
    ScheduleTap(57, at);
  }
}

}  // namespace qv
