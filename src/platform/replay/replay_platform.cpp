// replay_platform.cpp -- serving a replay's events to the game, and checking them.
#include "platform/replay/replay_platform.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/key_names.h"
#include "platform/wave_file.h"

namespace qv {

namespace {

// A sound may be reported over this much before its end: the mixer notices an end at the next
// period (10 ms), and the tick count counts whole milliseconds.
constexpr double kEndSlackMs = 11;
// How often the computing a replay has taken is looked at, in events.
constexpr uint64_t kBudgetEvery = 4096;

const char* OpName(uint8_t op) {
  switch (static_cast<ReplayOp>(op)) {
    case ReplayOp::TickCount:
      return "the tick count";
    case ReplayOp::ClockSeed:
      return "a seed from the clock";
    case ReplayOp::ProcessEvents:
      return "a turn of the window system";
    case ReplayOp::MessageBox:
      return "a message box";
    case ReplayOp::Terminate:
      return "the program's end";
    case ReplayOp::SetTimerEnabled:
      return "the timer";
    case ReplayOp::ShowWindow:
      return "the window";
    case ReplayOp::CreateKeyboard:
      return "a new keyboard";
    case ReplayOp::AcquireKeyboard:
      return "the keyboard's acquisition";
    case ReplayOp::ReadKeyboard:
      return "a keyboard read";
    case ReplayOp::OpenSoundDevice:
      return "the sound device";
    case ReplayOp::CreateBuffer:
      return "a sound loaded";
    case ReplayOp::Play:
      return "a sound played";
    case ReplayOp::Stop:
      return "a sound stopped";
    case ReplayOp::SetCurrentPosition:
      return "a sound's position";
    case ReplayOp::SetVolume:
      return "a sound's volume";
    case ReplayOp::SetPan:
      return "a sound's pan";
    case ReplayOp::SetFrequency:
      return "a sound's rate";
    case ReplayOp::GetStatus:
      return "a sound's status";
    case ReplayOp::Release:
      return "a sound released";
    case ReplayOp::StartTransfer:
      return "a transfer";
    case ReplayOp::TransferExecuting:
      return "whether the transfer runs";
    case ReplayOp::TransferStatus:
      return "the transfer's status";
  }
  return "something this game never asks for";
}

double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

uint64_t DueCode(std::optional<uint32_t> due, uint32_t start) {
  if (!due) return 0;
  const int64_t from_start = static_cast<int32_t>(*due - start);
  return 1 + ((static_cast<uint64_t>(from_start) << 1) ^ static_cast<uint64_t>(from_start >> 63));
}

}  // namespace

ReplayPlatform::ReplayPlatform(const Replay& replay, ReplayOptions options)
    : options_(std::move(options)),
      events_(replay.events),
      start_(replay.start_ms),
      clock_(replay.start_ms),
      cpu_start_s_(CpuSeconds()),
      keys_(replay.keys) {
  for (const StagedBuffer& s : replay.stage) {
    Buffer b;
    b.file = s.file;
    LoadFormat(b);
    if (s.frequency > 0) b.frequency = s.frequency;
    b.playing = s.playing;
    b.looping = s.looping;
    b.frame = s.frame;
    b.since = clock_;
    buffers_[s.id] = b;
    used_[s.id] = true;
  }
}

void ReplayPlatform::Refuse(const std::string& why) const { throw ReplayRefused{why}; }

void ReplayPlatform::LoadFormat(Buffer& b) const {
  WaveFormat f;
  try {
    f = ReadWaveFormat(options_.sounds_dir + "/" + b.file);
  } catch (const WaveError& e) {
    Refuse("The replay plays " + b.file + ", which is not one of the game's sounds (" + e.what() +
           ").");
  }
  b.rate = f.rate;
  b.frame_bytes = static_cast<uint32_t>(f.channels) * f.bits / 8u;
  b.frames = f.frames;
  b.frequency = static_cast<int>(f.rate);
}

void ReplayPlatform::Expect(ReplayOp op) {
  ++event_;
  if (options_.cpu_budget_s > 0 && event_ % kBudgetEvery == 0 &&
      CpuSeconds() - cpu_start_s_ > options_.cpu_budget_s) {
    char budget[32];
    std::snprintf(budget, sizeof budget, "%g", options_.cpu_budget_s);
    Refuse(std::string("The replay takes more than ") + budget + " s of computing to check.");
  }
  const uint8_t wanted = static_cast<uint8_t>(op);
  if (events_.AtEnd()) {
    Refuse(std::string("The recording ends before the game does (the game asked for ") +
           OpName(wanted) + ").");
  }
  const uint8_t recorded = events_.Byte();
  if (recorded != wanted) {
    Refuse("At event " + std::to_string(event_) + " the game asked for " + OpName(wanted) +
           " where the recording holds " + OpName(recorded) + ".");
  }
  if (IsTimed(op)) Advance(events_.Signed());
}

void ReplayPlatform::Same(uint64_t recorded, uint64_t asked, const char* what) const {
  if (recorded == asked) return;
  Refuse("At event " + std::to_string(event_) + " the game asked for " + what + " " +
         std::to_string(asked) + " where the recording holds " + std::to_string(recorded) + ".");
}

void ReplayPlatform::SameText(const std::string& recorded, const std::string& asked,
                              const char* what) const {
  if (recorded == asked) return;
  Refuse("At event " + std::to_string(event_) + " the game asked for " + what + " \"" + asked +
         "\" where the recording holds \"" + recorded + "\".");
}

void ReplayPlatform::Advance(int64_t delta) {
  if (delta < 0) {
    Refuse("The clock goes back " + std::to_string(-delta) + " ms at event " +
           std::to_string(event_) + ".");
  }
  if (delta > 0xFFFFFFFF) {
    Refuse("The clock jumps further than it counts at event " + std::to_string(event_) + ".");
  }
  clock_ += static_cast<uint32_t>(delta);
  if (options_.max_ms > 0 && clock_ - start_ > options_.max_ms) {
    Refuse("The replay lasts more than " + std::to_string(options_.max_ms / 60000) +
           " minutes, longer than any game.");
  }
}

ReplayPlatform::Buffer& ReplayPlatform::Find(BufferId id, const char* op) {
  auto it = buffers_.find(id);
  if (it == buffers_.end()) {
    Refuse("At event " + std::to_string(event_) + " the game asked for " + op + " of buffer " +
           std::to_string(id) + ", which the recording never made.");
  }
  return it->second;
}

const ReplayPlatform::Buffer* ReplayPlatform::FindBuffer(BufferId id) const {
  auto it = buffers_.find(id);
  return it == buffers_.end() ? nullptr : &it->second;
}

double ReplayPlatform::Position(BufferId id) const {
  const Buffer* b = FindBuffer(id);
  if (b == nullptr) return 0;
  if (!b->playing) return b->frame;
  const double at = b->frame + static_cast<double>(static_cast<int32_t>(clock_ - b->since)) *
                                   b->frequency / 1000.0;
  return b->looping && b->frames > 0 ? std::fmod(at, b->frames) : std::min(at, b->frames);
}

void ReplayPlatform::Catch(Buffer& b) {
  if (b.playing) {
    b.frame += static_cast<double>(static_cast<int32_t>(clock_ - b.since)) * b.frequency / 1000.0;
    if (b.frame >= b.frames && b.frames > 0) {
      if (b.looping) {
        b.frame = std::fmod(b.frame, b.frames);
      } else {
        b.playing = false;
        b.frame = b.frames;
      }
    }
  }
  b.since = clock_;
}

// --- System

uint32_t ReplayPlatform::TickCount() {
  Expect(ReplayOp::TickCount);
  Advance(events_.Signed());
  return clock_;
}

uint32_t ReplayPlatform::ClockSeed() {
  Expect(ReplayOp::ClockSeed);
  return static_cast<uint32_t>(events_.Unsigned());
}

void ReplayPlatform::ShowWindow() { Expect(ReplayOp::ShowWindow); }

WindowEvents ReplayPlatform::ProcessEvents(std::optional<uint32_t> due) {
  Expect(ReplayOp::ProcessEvents);
  Same(events_.Unsigned(), DueCode(due, start_), "the deadline coded");
  WindowEvents events;
  events.close_requested = events_.Byte() != 0;
  const uint64_t ticks = events_.Unsigned();
  if (ticks > 1000) Refuse("The timer ticks " + std::to_string(ticks) + " times in one turn.");
  events.timer_ticks = static_cast<int>(ticks);
  Advance(events_.Signed());
  turned_since_read_ = true;
  if (turn_end_hook_) turn_end_hook_();
  return events;
}

void ReplayPlatform::MessageBox(const std::string& text) {
  Expect(ReplayOp::MessageBox);
  SameText(events_.Text(), text, "a message box with the text");
  Tell("message", 0, text, "");
}

void ReplayPlatform::Terminate(int status) {
  Expect(ReplayOp::Terminate);
  Same(events_.Unsigned(), static_cast<uint64_t>(status), "the end with status");
  Tell("exit", 0, "", std::to_string(status));
  throw ReplayTerminated{status};
}

void ReplayPlatform::SetTimerEnabled(bool enabled) {
  Expect(ReplayOp::SetTimerEnabled);
  Same(events_.Byte(), enabled ? 1 : 0, "the timer switched");
  Tell("timer", 0, "Timer1", enabled ? "on" : "off");
}

// --- Input

bool ReplayPlatform::CreateKeyboard() {
  Expect(ReplayOp::CreateKeyboard);
  const bool created = events_.Byte() != 0;
  if (created) acquired_ = false;  // a new keyboard is not acquired
  return created;
}

bool ReplayPlatform::AcquireKeyboard() {
  Expect(ReplayOp::AcquireKeyboard);
  const bool acquired = events_.Byte() != 0;
  acquired_ = acquired_ || acquired;
  return acquired;
}

KeyRead ReplayPlatform::ReadKeyboard(uint8_t state[256]) {
  Expect(ReplayOp::ReadKeyboard);
  const uint8_t read = events_.Byte();
  if (read > static_cast<uint8_t>(KeyRead::OtherError))
    Refuse("A keyboard read gave no known result.");
  if (static_cast<KeyRead>(read) != KeyRead::Ok) {
    acquired_ = false;  // it reads again only once acquired again
  } else {
    if (!acquired_) {
      Refuse("At event " + std::to_string(event_) +
             " the keyboard reads while the game's window does not have it (no acquisition "
             "succeeded since it was lost).");
    }
    const uint64_t changed = events_.Unsigned();
    if (changed > 256) Refuse("A keyboard read changes more keys than there are.");
    if (changed > 0 && !turned_since_read_) {
      Refuse("A key changes at event " + std::to_string(event_) +
             " within a pass of the game, where no key can change: between two reads of the "
             "keyboard with no turn of the window system between them.");
    }
    for (uint64_t i = 0; i < changed; ++i) {
      const uint8_t key = events_.Byte();
      keys_[key] = events_.Byte();
      Tell("key", 0, KeyName(key), keys_[key] != 0 ? "down" : "up");
    }
    std::copy(keys_.begin(), keys_.end(), state);
    turned_since_read_ = false;
  }
  return static_cast<KeyRead>(read);
}

// --- Sound

bool ReplayPlatform::OpenSoundDevice() {
  Expect(ReplayOp::OpenSoundDevice);
  return events_.Byte() != 0;
}

BufferId ReplayPlatform::CreateBuffer(const std::string& file) {
  Expect(ReplayOp::CreateBuffer);
  SameText(events_.Text(), file, "the sound");
  const uint64_t id = events_.Unsigned();
  if (id == 0 || id > 0x7FFFFFFF || used_.count(static_cast<BufferId>(id)) != 0) {
    Refuse("At event " + std::to_string(event_) + " the recording gives buffer number " +
           std::to_string(id) + " again.");
  }
  Buffer b;
  b.file = file;
  LoadFormat(b);
  b.since = clock_;
  buffers_[static_cast<BufferId>(id)] = b;
  used_[static_cast<BufferId>(id)] = true;
  Tell("load", static_cast<BufferId>(id), file, "");
  return static_cast<BufferId>(id);
}

void ReplayPlatform::Play(BufferId id, PlayMode mode) {
  Expect(ReplayOp::Play);
  Same(events_.Unsigned(), static_cast<uint64_t>(id), "to play buffer");
  Same(events_.Byte(), static_cast<uint64_t>(mode), "the play mode");
  Buffer& b = Find(id, "a play");
  Catch(b);
  if (!b.playing) {
    if (b.frame >= b.frames) b.frame = 0;  // played to its end: it starts again
    b.playing = true;
  }
  b.stopped = false;
  b.looping = mode == kPlayLooping;
  Tell("play", id, b.file, b.looping ? "loop" : "once");
}

void ReplayPlatform::Stop(BufferId id) {
  Expect(ReplayOp::Stop);
  Same(events_.Unsigned(), static_cast<uint64_t>(id), "to stop buffer");
  Buffer& b = Find(id, "a stop");
  Catch(b);
  b.playing = false;
  b.stopped = true;
  Tell("stop", id, b.file, "");
}

void ReplayPlatform::SetCurrentPosition(BufferId id, uint32_t byte_offset) {
  Expect(ReplayOp::SetCurrentPosition);
  Same(events_.Unsigned(), static_cast<uint64_t>(id), "to move buffer");
  Same(events_.Unsigned(), byte_offset, "the position");
  Buffer& b = Find(id, "a move");
  Catch(b);
  b.frame = b.frame_bytes == 0 ? 0 : std::min<double>(byte_offset / b.frame_bytes, b.frames);
  Tell("position", id, b.file, std::to_string(byte_offset));
}

void ReplayPlatform::SetVolume(BufferId id, int hundredths_db) {
  Expect(ReplayOp::SetVolume);
  Same(events_.Unsigned(), static_cast<uint64_t>(id), "the volume of buffer");
  Same(static_cast<uint64_t>(events_.Signed()), static_cast<uint64_t>(int64_t{hundredths_db}),
       "the volume");
  Tell("volume", id, Find(id, "a volume").file, std::to_string(hundredths_db));
}

void ReplayPlatform::SetPan(BufferId id, int pan) {
  Expect(ReplayOp::SetPan);
  Same(events_.Unsigned(), static_cast<uint64_t>(id), "the pan of buffer");
  Same(static_cast<uint64_t>(events_.Signed()), static_cast<uint64_t>(int64_t{pan}), "the pan");
  Tell("pan", id, Find(id, "a pan").file, std::to_string(pan));
}

void ReplayPlatform::SetFrequency(BufferId id, int hertz) {
  Expect(ReplayOp::SetFrequency);
  Same(events_.Unsigned(), static_cast<uint64_t>(id), "the rate of buffer");
  Same(events_.Unsigned(), static_cast<uint64_t>(hertz < 0 ? 0 : hertz), "the rate");
  Buffer& b = Find(id, "a rate");
  Catch(b);
  if (hertz > 0) b.frequency = hertz;
  Tell("frequency", id, b.file, std::to_string(hertz));
}

int ReplayPlatform::GetStatus(BufferId id) {
  Expect(ReplayOp::GetStatus);
  Same(events_.Unsigned(), static_cast<uint64_t>(id), "the status of buffer");
  const uint64_t status = events_.Unsigned();
  if (status != 0 && status != kStatusPlaying && status != (kStatusPlaying | kStatusLooping)) {
    Refuse("A sound's status reads " + std::to_string(status) + ", which no sound has.");
  }
  Buffer& b = Find(id, "the status");
  const bool was_playing = b.playing;
  Catch(b);
  if (status != 0) {
    if (b.stopped) Refuse(b.file + " plays on after the game stopped it.");
    if (((status & kStatusLooping) != 0) != b.looping) {
      Refuse(b.file + (b.looping ? " is played looping but reads as played once."
                                 : " is played once but reads as looping."));
    }
    return static_cast<int>(status);
  }
  if (b.playing && b.looping) Refuse(b.file + ", played looping, stops by itself.");
  if (b.playing && b.frequency > 0) {
    const double early_ms = (b.frames - b.frame) * 1000.0 / b.frequency;
    if (early_ms > kEndSlackMs) {
      Refuse(b.file + " ends " + std::to_string(static_cast<int>(early_ms)) +
             " ms before the end its length and rate allow.");
    }
  }
  if (was_playing || b.playing) {
    b.playing = false;
    b.frame = b.frames;
  }
  return 0;
}

void ReplayPlatform::Release(BufferId id) {
  Expect(ReplayOp::Release);
  Same(events_.Unsigned(), static_cast<uint64_t>(id), "to release buffer");
  Tell("release", id, Find(id, "a release").file, "");
  buffers_.erase(id);
}

// --- Transfer

void ReplayPlatform::StartTransfer(const std::string& url, const std::string& body) {
  Expect(ReplayOp::StartTransfer);
  SameText(events_.Text(), url, "a transfer of");
  SameText(events_.Text(), body, "a transfer sending");
  Tell("http", 0, url, "start");
}

bool ReplayPlatform::TransferExecuting() {
  Expect(ReplayOp::TransferExecuting);
  return events_.Byte() != 0;
}

int ReplayPlatform::TransferStatus() {
  Expect(ReplayOp::TransferStatus);
  transfer_status_ = static_cast<int>(events_.Unsigned() & 0xFFFF);
  return transfer_status_;
}

std::unique_ptr<Render> RenderReplay(ReplayPlatform& machine, const Replay& replay,
                                     std::string sounds_dir, Render::Sink sink, uint32_t rate) {
  auto render = std::make_unique<Render>(
      machine.Parts(), std::move(sounds_dir),
      [&machine](BufferId id) -> std::optional<Render::Account> {
        const ReplayPlatform::Buffer* b = machine.FindBuffer(id);
        if (b == nullptr) return std::nullopt;
        const double frame = machine.Position(id);
        return Render::Account{frame, b->playing && (b->looping || frame < b->frames)};
      },
      std::move(sink), 1, Render::StemOf{}, rate);
  for (const StagedBuffer& b : replay.stage) {
    render->AddPlaying(b.id, b.file, b.volume, b.pan, b.frequency, b.playing, b.looping, b.frame);
  }
  const uint32_t start = replay.start_ms;
  render->MixBeforeEachOperation([&machine, start] { return machine.Now() - start; });
  return render;
}

}  // namespace qv
