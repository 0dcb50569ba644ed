// sound_log.h -- the sound log: one line per platform event, "MS OP ID SUBJECT VALUE" with tabs.
// The simulator writes it to standard output; the real program to $QUORVANE_SOUND_LOG. It hears
// the platform as one of its observers; the settings store and the simulator's script and bot
// add their own entries.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qv {

struct LogEntry {
  uint32_t ms = 0;      // time since the program started
  std::string op;       // load, play, stop, release, position, volume, pan, frequency, ...
  int id = 0;           // buffer number, 0 printed as "-"
  std::string subject;  // file, APP/SECTION/KEY, URL, key name...; empty printed as "-"
  std::string value;    // empty printed as "-"
};

// Formats one entry as its log line, without the newline.
std::string FormatLogEntry(const LogEntry& e);

class SoundLog : public PlatformObserver {
 public:
  // out may be null: then entries are only kept and passed to the listener.
  explicit SoundLog(std::FILE* out = nullptr) : out_(out) {}

  void Add(LogEntry e);
  // Adds an entry stamped with the time since it began to follow a platform (0 before).
  void Add(const std::string& op, int id, const std::string& subject, const std::string& value) {
    Add(LogEntry{clock_ ? clock_() : 0, op, id, subject, value});
  }
  // Hears every part of the platform from now on, and stamps entries with the milliseconds
  // since now by its clock: called once, as the program starts.
  void Follow(Platform platform);
  // The same with a clock of its own, the milliseconds to stamp entries with (a replay's: the
  // log must not read the replayed clock, which gives each reading to the game).
  void Follow(Platform platform, std::function<uint32_t()> clock);
  // An operation of the platform, logged as it tells it.
  void Saw(const PlatformEvent& event) override;
  const std::vector<LogEntry>& Entries() const { return entries_; }
  // Called after every entry is added (the simulator's script waits and bot listen here).
  void SetListener(std::function<void(const LogEntry&)> listener) {
    listener_ = std::move(listener);
  }
  // When false, entries are written but not kept in memory (the real program).
  void KeepEntries(bool keep) { keep_ = keep; }

 private:
  std::FILE* out_;
  bool keep_ = true;
  std::vector<LogEntry> entries_;
  std::function<void(const LogEntry&)> listener_;
  std::function<uint32_t()> clock_;
};

}  // namespace qv
