// sound_log.cpp -- formatting and writing of the sound log.
#include "platform/sound_log.h"

namespace qv {

namespace {
std::string OrDash(const std::string& s) { return s.empty() ? "-" : s; }
}  // namespace

std::string FormatLogEntry(const LogEntry& e) {
  return std::to_string(e.ms) + '\t' + e.op + '\t' + (e.id > 0 ? std::to_string(e.id) : "-") +
         '\t' + OrDash(e.subject) + '\t' + OrDash(e.value);
}

void SoundLog::Add(LogEntry e) {
  if (out_ != nullptr) {
    std::fprintf(out_, "%s\n", FormatLogEntry(e).c_str());
    std::fflush(out_);
  }
  if (listener_) listener_(e);
  if (keep_) entries_.push_back(std::move(e));
}

void SoundLog::Follow(Platform platform) {
  System& system = platform.system;
  const uint32_t start = system.TickCount();
  Follow(platform, [&system, start] { return system.TickCount() - start; });
}

void SoundLog::Follow(Platform platform, std::function<uint32_t()> clock) {
  clock_ = std::move(clock);
  platform.Watch(*this);
}

void SoundLog::Saw(const PlatformEvent& event) {
  Add(std::string(event.op), event.id, std::string(event.subject), std::string(event.value));
}

}  // namespace qv
