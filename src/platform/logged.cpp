// logged.cpp -- the logging wrapper around a backend.
#include "platform/logged.h"

#include <cstdlib>

#include "platform/key_names.h"

namespace qv {

LoggedPlatform::LoggedPlatform(Platform inner, SoundLog& log, bool log_keys)
    : inner_(inner), log_(log), log_keys_(log_keys), start_tick_(inner.system.TickCount()) {
  log_.SetClock([this] { return Elapsed(); });
}

void LoggedPlatform::Log(const std::string& op, BufferId id, const std::string& subject,
                         const std::string& value) {
  log_.Add(op, id, subject, value);
}

void LoggedPlatform::LogBuffer(const std::string& op, BufferId id, const std::string& value) {
  auto it = files_.find(id);
  Log(op, id, it == files_.end() ? std::string() : it->second, value);
}

WindowEvents LoggedPlatform::ProcessEvents(std::optional<uint32_t> due) {
  WindowEvents ev = inner_.system.ProcessEvents(due);
  // A transfer's end is logged when the window system first sees it, whether or not the
  // game asks in this pass.
  if (transfer_running_ && !inner_.transfer.TransferExecuting()) TransferExecuting();
  return ev;
}

KeyRead LoggedPlatform::ReadKeyboard(uint8_t state[256]) {
  KeyRead read = inner_.input.ReadKeyboard(state);
  if (!log_keys_ || read != KeyRead::Ok) return read;
  for (int k = 0; k < 256; ++k) {
    const uint8_t down = state[k] & 0x80;
    if (down == keys_seen_[static_cast<size_t>(k)]) continue;
    keys_seen_[static_cast<size_t>(k)] = down;
    Log("key", 0, KeyName(k), down != 0 ? "down" : "up");
  }
  return read;
}

void LoggedPlatform::MessageBox(const std::string& text) {
  Log("message", 0, text, "");
  inner_.system.MessageBox(text);
}

void LoggedPlatform::Terminate(int status) {
  Log("exit", 0, "", std::to_string(status));
  inner_.system.Terminate(status);
  std::abort();  // a backend's Terminate never returns
}

void LoggedPlatform::SetTimerEnabled(bool enabled) {
  inner_.system.SetTimerEnabled(enabled);
  Log("timer", 0, "Timer1", enabled ? "on" : "off");
}

BufferId LoggedPlatform::CreateBuffer(const std::string& file) {
  BufferId id = inner_.sound.CreateBuffer(file);
  files_[id] = file;
  Log("load", id, file, "");
  return id;
}

void LoggedPlatform::Play(BufferId id, int flags) {
  inner_.sound.Play(id, flags);
  LogBuffer("play", id, (flags & kPlayLooping) != 0 ? "loop" : "once");
}

void LoggedPlatform::Stop(BufferId id) {
  inner_.sound.Stop(id);
  LogBuffer("stop", id, "");
}

void LoggedPlatform::SetCurrentPosition(BufferId id, uint32_t byte_offset) {
  inner_.sound.SetCurrentPosition(id, byte_offset);
  LogBuffer("position", id, std::to_string(byte_offset));
}

void LoggedPlatform::SetVolume(BufferId id, int hundredths_db) {
  inner_.sound.SetVolume(id, hundredths_db);
  LogBuffer("volume", id, std::to_string(hundredths_db));
}

void LoggedPlatform::SetPan(BufferId id, int pan) {
  inner_.sound.SetPan(id, pan);
  LogBuffer("pan", id, std::to_string(pan));
}

void LoggedPlatform::SetFrequency(BufferId id, int hertz) {
  inner_.sound.SetFrequency(id, hertz);
  LogBuffer("frequency", id, std::to_string(hertz));
}

void LoggedPlatform::Release(BufferId id) {
  inner_.sound.Release(id);
  LogBuffer("release", id, "");
  files_.erase(id);
}

void LoggedPlatform::StartTransfer(const std::string& url) {
  inner_.transfer.StartTransfer(url);
  transfer_url_ = url;
  transfer_running_ = true;
  Log("http", 0, url, "start");
}

bool LoggedPlatform::TransferExecuting() {
  bool executing = inner_.transfer.TransferExecuting();
  if (transfer_running_ && !executing) {
    transfer_running_ = false;
    Log("http", 0, transfer_url_, "end " + std::to_string(inner_.transfer.TransferStatus()));
  }
  return executing;
}

}  // namespace qv
