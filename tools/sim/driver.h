// driver.h -- what plays the virtual machine in the simulator and the scenario tests: the
// script, run command by command in virtual time, and the bot that answers what it hears.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/sound_log.h"
#include "platform/virtual/virtual_platform.h"
#include "script.h"

namespace qv {

// Everything the simulator's command line sets.
struct SimOptions : VirtualOptions {
  std::string settings_path;  // empty: an empty store in memory
  int bot_ms = -1;            // the bot's reaction time; -1 without the bot
  std::vector<ScriptCommand> script;
};

class SimDriver {
 public:
  // Hooks itself into the machine's turns and listens to the log (it must be the log the
  // program writes, so waits and the bot hear what the program plays).
  SimDriver(VirtualPlatform& machine, SoundLog& log, const SimOptions& options);

  // One virtual millisecond of the script and the bot; the machine's turn hook runs it.
  void Turn();
  // The script's command under way (a sleep, a tap held, a wait not yet met); nothing once the
  // script is done.
  const ScriptCommand* Current() const {
    return script_pc_ < script_.size() ? &script_[script_pc_] : nullptr;
  }

 private:
  void RunScript();
  void RunBot();
  void Hear(const LogEntry& e);
  void SetKey(int key, bool down);
  void ScheduleTap(int key, uint32_t at);

  VirtualPlatform& machine_;
  SoundLog& log_;
  std::vector<ScriptCommand> script_;
  int bot_ms_;

  size_t script_pc_ = 0;
  bool command_started_ = false;
  uint32_t command_start_ = 0;  // when the current command began (the last one's end)
  uint32_t command_until_ = 0;  // sleep or tap: when it is done
  // What a wait counts from: the last command's start when it acted (a key, focus, a close),
  // so that what the game does at a tap's press counts as well as what it does at its
  // release; the last command's end after a sleep or a wait, which only let time pass.
  uint32_t wait_from_ = 0;
  bool wait_satisfied_ = false;
  std::vector<LogEntry> heard_;  // the log since the current command began, for its wait

  struct PendingKey {
    uint32_t at;
    int key;
    bool down;
  };
  std::vector<PendingKey> bot_keys_;
  std::map<int, std::string> files_;  // buffer id -> file, as the log told it
  std::map<int, int> pans_;           // buffer id -> its last pan
  std::map<int, bool> falling_;       // buffer id -> playing once and not stopped since
};

}  // namespace qv
