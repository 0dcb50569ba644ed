// logged_platform.cpp -- the logging wrapper around a backend.
#include "platform/logged_platform.h"

#include <cstdlib>

namespace qv {

LoggedPlatform::LoggedPlatform(Platform& inner, SoundLog& log)
    : inner_(inner), log_(log), start_tick_(inner.TickCount()) {}

void LoggedPlatform::Log(const std::string& op, BufferId id, const std::string& subject,
                         const std::string& value) {
  log_.Add(LogEntry{Elapsed(), op, id, subject, value});
}

void LoggedPlatform::LogBuffer(const std::string& op, BufferId id, const std::string& value) {
  auto it = files_.find(id);
  Log(op, id, it == files_.end() ? std::string() : it->second, value);
}

WindowEvents LoggedPlatform::ProcessEvents() {
  WindowEvents ev = inner_.ProcessEvents();
  // A transfer's end is logged when the window system first sees it, whether or not the
  // game asks in this pass.
  if (transfer_running_ && !inner_.TransferExecuting()) TransferExecuting();
  return ev;
}

void LoggedPlatform::MessageBox(const std::string& text) {
  Log("message", 0, text, "");
  inner_.MessageBox(text);
}

void LoggedPlatform::Terminate(int status) {
  Log("exit", 0, "", std::to_string(status));
  inner_.Terminate(status);
  std::abort();  // a backend's Terminate never returns
}

void LoggedPlatform::SetTimerEnabled(bool enabled) {
  inner_.SetTimerEnabled(enabled);
  Log("timer", 0, "Timer1", enabled ? "on" : "off");
}

BufferId LoggedPlatform::CreateBuffer(const std::string& file) {
  BufferId id = inner_.CreateBuffer(file);
  files_[id] = file;
  Log("load", id, file, "");
  return id;
}

void LoggedPlatform::Play(BufferId id, int flags) {
  inner_.Play(id, flags);
  LogBuffer("play", id, (flags & kPlayLooping) != 0 ? "loop" : "once");
}

void LoggedPlatform::Stop(BufferId id) {
  inner_.Stop(id);
  LogBuffer("stop", id, "");
}

void LoggedPlatform::SetCurrentPosition(BufferId id, uint32_t byte_offset) {
  inner_.SetCurrentPosition(id, byte_offset);
  LogBuffer("position", id, std::to_string(byte_offset));
}

void LoggedPlatform::SetVolume(BufferId id, int hundredths_db) {
  inner_.SetVolume(id, hundredths_db);
  LogBuffer("volume", id, std::to_string(hundredths_db));
}

void LoggedPlatform::SetPan(BufferId id, int pan) {
  inner_.SetPan(id, pan);
  LogBuffer("pan", id, std::to_string(pan));
}

void LoggedPlatform::SetFrequency(BufferId id, int hertz) {
  inner_.SetFrequency(id, hertz);
  LogBuffer("frequency", id, std::to_string(hertz));
}

void LoggedPlatform::Release(BufferId id) {
  inner_.Release(id);
  LogBuffer("release", id, "");
  files_.erase(id);
}

void LoggedPlatform::StoreSetting(const std::string& app, const std::string& section,
                                  const std::string& key, const std::string& value) {
  inner_.StoreSetting(app, section, key, value);
  Log("store", 0, app + "/" + section + "/" + key, value);
}

void LoggedPlatform::StartTransfer(const std::string& url) {
  inner_.StartTransfer(url);
  transfer_url_ = url;
  transfer_running_ = true;
  Log("http", 0, url, "start");
}

bool LoggedPlatform::TransferExecuting() {
  bool executing = inner_.TransferExecuting();
  if (transfer_running_ && !executing) {
    transfer_running_ = false;
    Log("http", 0, transfer_url_, "end " + std::to_string(inner_.TransferStatus()));
  }
  return executing;
}

}  // namespace qv
