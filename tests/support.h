// support.h -- a fresh virtual world per test: a folder of small generated wave files, the
// virtual machine with its sound log, and the program object, plus helpers to read the log.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "driver.h"
#include "platform/replay/recorder.h"
#include "platform/sound_log.h"
#include "platform/virtual/virtual_platform.h"
#include "startup/program.h"
#include "store/ini_store.h"

namespace qv::test {

// A temporary folder removed at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Writes a 16-bit PCM wave file of the given length (a quiet tone, so it is not silence).
void WriteWav(const std::string& path, uint32_t ms, uint32_t rate = 22050, uint16_t channels = 1);

// The files start-up loads: the sixteen bank sounds in load order.
extern const std::vector<std::string> kBankFiles;

// Writes every file the program may play into dir, each `ms` long; the introduction sounds
// get their own lengths.
void WriteSoundSet(const std::string& dir, uint32_t ms = 200, uint32_t empty_ms = 300,
                   uint32_t intro_ms = 5000);

// One virtual run: sounds in a temp folder, the machine, its log following it from the start,
// and a program object; with record, the program runs on a recorder and each replay it keeps
// goes to `replays`.
struct World {
  explicit World(SimOptions options = {}, bool write_sounds = true, bool record = false);

  // Runs Main until the program ends; returns its exit status (-1 if --until was reached).
  int Run();

  // "op file" for each log entry whose op is in ops (all ops when empty), in order.
  std::vector<std::string> Events(const std::vector<std::string>& ops = {}) const;
  // The first log entry with this op and subject at or after index `from`; -1 when none.
  int Find(const std::string& op, const std::string& subject, size_t from = 0) const;
  const std::vector<LogEntry>& Log() const { return log.Entries(); }

  TempDir dir;
  SimOptions opts;
  SoundLog log;
  VirtualPlatform machine;
  SimDriver driver;
  IniStore settings;
  Recorder recorder;
  Program pg;
  std::vector<std::string> replays;
};

SimOptions WithScript(const std::string& script_text);

// Whether the output was asked to answer keys at once (SetQuickResponse) at each play of each
// file, as long as it watches the machine.
struct QuickAtPlay : PlatformObserver {
  explicit QuickAtPlay(VirtualPlatform& m) : machine(m) { machine.Watch(*this); }
  ~QuickAtPlay() override { machine.Unwatch(*this); }
  void Saw(const PlatformEvent& e) override {
    if (e.op == "play") seen[std::string(e.subject)].insert(machine.QuickResponse());
  }
  VirtualPlatform& machine;
  std::map<std::string, std::set<bool>> seen;
};

// A settings file holding a high score at a difficulty, scrambled as the game stores them.
std::string HighScoreFile(const std::string& score, int difficulty);

}  // namespace qv::test
