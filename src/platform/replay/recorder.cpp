// recorder.cpp -- passing each call on, and recording it while a recording runs.
#include "platform/replay/recorder.h"

#include <cmath>
#include <cstdlib>

namespace qv {

namespace {

// A deadline, as the events tell it: 0 for none, else one more than its distance from the start
// of the recording, zigzagged (a loop waiting for one deadline asks for the same one every
// pass, so the bytes of those passes repeat).
uint64_t DueCode(std::optional<uint32_t> due, uint32_t start) {
  if (!due) return 0;
  const int64_t from_start = static_cast<int32_t>(*due - start);
  return 1 + ((static_cast<uint64_t>(from_start) << 1) ^ static_cast<uint64_t>(from_start >> 63));
}

}  // namespace

Recorder::Recorder(Platform backend, std::string sounds_dir)
    : backend_(backend), sounds_dir_(std::move(sounds_dir)) {
  backend_.Watch(*this);
}

Recorder::~Recorder() { backend_.Unwatch(*this); }

// A sound log stamps an operation as the backend tells it, and a playback's log stamps it with
// the recorded time: the work between the telling and the record (the log writing its line, a
// wave file's format read) must not move it to the next millisecond.
void Recorder::Saw(const PlatformEvent& /*event*/) {
  if (told_at_) return;  // the first a call tells
  told_at_ = backend_.system.TickCount();
}

void Recorder::Op(ReplayOp op) {
  out_.Byte(static_cast<uint8_t>(op));
  const std::optional<uint32_t> told = told_at_;
  told_at_.reset();
  if (!IsTimed(op)) return;
  const uint32_t now = told ? *told : backend_.system.TickCount();
  out_.Signed(static_cast<int32_t>(now - clock_));
  clock_ = now;
}

double Recorder::Rate(const Tracked& b) {
  auto it = formats_.find(b.file);
  if (it == formats_.end()) {
    WaveFormat format;
    try {
      format = ReadWaveFormat(sounds_dir_ + "/" + b.file);
    } catch (const WaveError&) {
      // The backend loaded it, so this fails only for a file changed since: the stage is then
      // heard less exactly, nothing worse.
    }
    it = formats_.emplace(b.file, format).first;
  }
  return b.frequency > 0 ? b.frequency : it->second.rate;
}

void Recorder::Catch(Tracked& b, uint32_t now) {
  if (b.playing) {
    const double rate = Rate(b);
    const double frames = formats_[b.file].frames;
    b.frame += static_cast<double>(static_cast<int32_t>(now - b.since_ms)) * rate / 1000.0;
    if (frames > 0 && b.frame >= frames) {
      if (b.looping) {
        b.frame = std::fmod(b.frame, frames);
      } else {
        b.playing = false;  // played to its end: the next Play starts from the beginning
        b.frame = 0;
      }
    }
  }
  b.since_ms = now;
}

void Recorder::Begin() {
  out_ = ByteWriter();
  stage_ = Stage();
  recording_ = true;
  told_at_.reset();
  start_ = clock_ = backend_.system.TickCount();
  keys_at_start_ = keys_;  // the next read tells what changed since the last one
}

Recording Recorder::Finish() {
  if (!recording_) return {};
  recording_ = false;
  Recording r;
  r.start_ms = start_;
  r.stage = std::move(stage_);
  r.keys = keys_at_start_;
  r.events = std::move(out_.Bytes());
  out_ = ByteWriter();
  return r;
}

std::vector<StagedBuffer> Recorder::Stage() {
  const uint32_t now = backend_.system.TickCount();
  std::vector<StagedBuffer> stage;
  for (auto& [id, b] : buffers_) {
    Catch(b, now);
    stage.push_back({id, b.file, b.volume, b.pan, b.frequency, b.playing, b.looping,
                     static_cast<uint32_t>(b.frame)});
  }
  return stage;
}

// --- System

uint32_t Recorder::TickCount() {
  const uint32_t now = backend_.system.TickCount();
  if (recording_) {
    Op(ReplayOp::TickCount);
    out_.Signed(static_cast<int32_t>(now - clock_));
    clock_ = now;
  }
  return now;
}

uint32_t Recorder::ClockSeed() {
  const uint32_t seed = backend_.system.ClockSeed();
  if (recording_) {
    Op(ReplayOp::ClockSeed);
    out_.Unsigned(seed);
  }
  return seed;
}

void Recorder::ShowWindow() {
  backend_.system.ShowWindow();
  if (recording_) Op(ReplayOp::ShowWindow);
}

WindowEvents Recorder::ProcessEvents(std::optional<uint32_t> due) {
  const WindowEvents events = backend_.system.ProcessEvents(due);
  if (recording_) {
    // The time the turn ended: what the game's clocks read next, or later.
    const uint32_t now = backend_.system.TickCount();
    Op(ReplayOp::ProcessEvents);
    out_.Unsigned(DueCode(due, start_));
    out_.Byte(events.close_requested ? 1 : 0);
    out_.Unsigned(static_cast<uint64_t>(events.timer_ticks));
    out_.Signed(static_cast<int32_t>(now - clock_));
    clock_ = now;
  }
  return events;
}

void Recorder::MessageBox(const std::string& text) {
  if (recording_) {
    Op(ReplayOp::MessageBox);
    out_.Text(text);
  }
  backend_.system.MessageBox(text);
}

void Recorder::Terminate(int status) {
  if (recording_) {
    Op(ReplayOp::Terminate);
    out_.Unsigned(static_cast<uint64_t>(status));
  }
  backend_.system.Terminate(status);
  std::abort();  // Terminate never returns
}

void Recorder::SetTimerEnabled(bool enabled) {
  backend_.system.SetTimerEnabled(enabled);
  if (recording_) {
    Op(ReplayOp::SetTimerEnabled);
    out_.Byte(enabled ? 1 : 0);
  }
}

// --- Input

bool Recorder::CreateKeyboard() {
  const bool ok = backend_.input.CreateKeyboard();
  if (recording_) {
    Op(ReplayOp::CreateKeyboard);
    out_.Byte(ok ? 1 : 0);
  }
  return ok;
}

bool Recorder::AcquireKeyboard() {
  const bool ok = backend_.input.AcquireKeyboard();
  if (recording_) {
    Op(ReplayOp::AcquireKeyboard);
    out_.Byte(ok ? 1 : 0);
  }
  return ok;
}

KeyRead Recorder::ReadKeyboard(uint8_t state[256]) {
  const KeyRead read = backend_.input.ReadKeyboard(state);
  if (!recording_) {
    if (read == KeyRead::Ok) std::copy(state, state + 256, keys_.begin());
    return read;
  }
  Op(ReplayOp::ReadKeyboard);
  out_.Byte(static_cast<uint8_t>(read));
  if (read == KeyRead::Ok) {
    size_t changed = 0;
    for (size_t k = 0; k < 256; ++k) changed += state[k] != keys_[k] ? 1 : 0;
    out_.Unsigned(changed);
    for (size_t k = 0; k < 256; ++k) {
      if (state[k] == keys_[k]) continue;
      out_.Byte(static_cast<uint8_t>(k));
      out_.Byte(state[k]);
      keys_[k] = state[k];
    }
  }
  return read;
}

// --- Sound

bool Recorder::OpenSoundDevice() {
  const bool ok = backend_.sound.OpenSoundDevice();
  if (recording_) {
    Op(ReplayOp::OpenSoundDevice);
    out_.Byte(ok ? 1 : 0);
  }
  return ok;
}

BufferId Recorder::CreateBuffer(const std::string& file) {
  const BufferId id = backend_.sound.CreateBuffer(file);
  buffers_[id] = Tracked{file};
  if (recording_) {
    Op(ReplayOp::CreateBuffer);
    out_.Text(file);
    out_.Unsigned(static_cast<uint64_t>(id));
  }
  return id;
}

void Recorder::Play(BufferId id, PlayMode mode) {
  backend_.sound.Play(id, mode);
  if (auto it = buffers_.find(id); it != buffers_.end()) {
    Catch(it->second, backend_.system.TickCount());
    it->second.playing = true;
    it->second.looping = mode == kPlayLooping;
  }
  if (recording_) {
    Op(ReplayOp::Play);
    out_.Unsigned(static_cast<uint64_t>(id));
    out_.Byte(static_cast<uint8_t>(mode));
  }
}

void Recorder::Stop(BufferId id) {
  backend_.sound.Stop(id);
  if (auto it = buffers_.find(id); it != buffers_.end()) {
    Catch(it->second, backend_.system.TickCount());
    it->second.playing = false;
  }
  if (recording_) {
    Op(ReplayOp::Stop);
    out_.Unsigned(static_cast<uint64_t>(id));
  }
}

void Recorder::SetCurrentPosition(BufferId id, uint32_t byte_offset) {
  backend_.sound.SetCurrentPosition(id, byte_offset);
  if (auto it = buffers_.find(id); it != buffers_.end()) {
    Tracked& b = it->second;
    Catch(b, backend_.system.TickCount());
    Rate(b);  // reads the file's format once
    const WaveFormat& f = formats_[b.file];
    const unsigned frame_bytes = f.channels * f.bits / 8u;
    b.frame = frame_bytes == 0 ? 0 : static_cast<double>(byte_offset / frame_bytes);
  }
  if (recording_) {
    Op(ReplayOp::SetCurrentPosition);
    out_.Unsigned(static_cast<uint64_t>(id));
    out_.Unsigned(byte_offset);
  }
}

void Recorder::SetVolume(BufferId id, int hundredths_db) {
  backend_.sound.SetVolume(id, hundredths_db);
  if (auto it = buffers_.find(id); it != buffers_.end()) it->second.volume = hundredths_db;
  if (recording_) {
    Op(ReplayOp::SetVolume);
    out_.Unsigned(static_cast<uint64_t>(id));
    out_.Signed(hundredths_db);
  }
}

void Recorder::SetPan(BufferId id, int pan) {
  backend_.sound.SetPan(id, pan);
  if (auto it = buffers_.find(id); it != buffers_.end()) it->second.pan = pan;
  if (recording_) {
    Op(ReplayOp::SetPan);
    out_.Unsigned(static_cast<uint64_t>(id));
    out_.Signed(pan);
  }
}

void Recorder::SetFrequency(BufferId id, int hertz) {
  backend_.sound.SetFrequency(id, hertz);
  if (auto it = buffers_.find(id); it != buffers_.end()) {
    Catch(it->second, backend_.system.TickCount());
    if (hertz > 0) it->second.frequency = hertz;
  }
  if (recording_) {
    Op(ReplayOp::SetFrequency);
    out_.Unsigned(static_cast<uint64_t>(id));
    out_.Unsigned(static_cast<uint64_t>(hertz < 0 ? 0 : hertz));
  }
}

int Recorder::GetStatus(BufferId id) {
  const int status = backend_.sound.GetStatus(id);
  if (recording_) {
    Op(ReplayOp::GetStatus);
    out_.Unsigned(static_cast<uint64_t>(id));
    out_.Unsigned(static_cast<uint64_t>(status));
  }
  return status;
}

// Not recorded: how much the output holds changes nothing the game plays or reads.
void Recorder::SetQuickResponse(bool quick) { backend_.sound.SetQuickResponse(quick); }

void Recorder::Release(BufferId id) {
  backend_.sound.Release(id);
  buffers_.erase(id);
  if (recording_) {
    Op(ReplayOp::Release);
    out_.Unsigned(static_cast<uint64_t>(id));
  }
}

// --- Transfer

void Recorder::StartTransfer(const std::string& url, const std::string& body) {
  backend_.transfer.StartTransfer(url, body);
  if (recording_) {
    Op(ReplayOp::StartTransfer);
    out_.Text(url);
    out_.Text(body);
  }
}

bool Recorder::TransferExecuting() {
  const bool running = backend_.transfer.TransferExecuting();
  if (recording_) {
    Op(ReplayOp::TransferExecuting);
    out_.Byte(running ? 1 : 0);
  }
  return running;
}

int Recorder::TransferStatus() {
  const int status = backend_.transfer.TransferStatus();
  if (recording_) {
    Op(ReplayOp::TransferStatus);
    out_.Unsigned(static_cast<uint64_t>(status < 0 ? 0 : status));
  }
  return status;
}

}  // namespace qv
