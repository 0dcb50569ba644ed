// driver.cpp -- the simulator's script runner and bot.
#include "driver.h"

#include "game/target.h"
#include "platform/key_names.h"
#include "platform/scan_codes.h"

namespace qv {

SimDriver::SimDriver(VirtualPlatform& machine, SoundLog& log, const SimOptions& options)
    : machine_(machine), log_(log), script_(options.script), bot_ms_(options.bot_ms) {
  machine_.SetTurnHook([this] { Turn(); });
  log_.SetListener([this](const LogEntry& e) { Hear(e); });
}

void SimDriver::Turn() {
  RunScript();
  RunBot();
}

void SimDriver::SetKey(int key, bool down) {
  machine_.SetKey(key, down);
  log_.Add(LogEntry{machine_.Elapsed(), "key", 0, KeyName(key), down ? "down" : "up"});
}

void SimDriver::RunScript() {
  const uint32_t t = machine_.Elapsed();
  while (script_pc_ < script_.size()) {
    const ScriptCommand& c = script_[script_pc_];
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
          wait_satisfied_ = false;
          for (const LogEntry& e : heard_) {
            if (e.ms >= wait_from_ && e.op == c.op && e.subject == c.subject) {
              wait_satisfied_ = true;
            }
          }
        }
        done = wait_satisfied_;
        command_until_ = t;
        break;
      case ScriptCommand::Close:
        machine_.RequestClose();
        command_until_ = t;
        done = true;
        break;
      case ScriptCommand::Blur:
      case ScriptCommand::Focus:
        machine_.SetFocus(c.kind == ScriptCommand::Focus);
        command_until_ = t;
        done = true;
        break;
    }
    if (!done) return;
    const bool acted = c.kind != ScriptCommand::Sleep && c.kind != ScriptCommand::Wait;
    wait_from_ = acted ? command_start_ : command_until_;
    command_start_ = command_until_;
    command_started_ = false;
    std::erase_if(heard_, [this](const LogEntry& e) { return e.ms < wait_from_; });
    ++script_pc_;
  }
}

void SimDriver::ScheduleTap(int key, uint32_t at) {
  bot_keys_.push_back({at, key, true});
  bot_keys_.push_back({at + 30, key, false});
}

void SimDriver::RunBot() {
  const uint32_t t = machine_.Elapsed();
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

void SimDriver::Hear(const LogEntry& e) {
  if (script_pc_ < script_.size()) {
    heard_.push_back(e);
    const ScriptCommand& c = script_[script_pc_];
    if (command_started_ && c.kind == ScriptCommand::Wait && e.op == c.op &&
        e.subject == c.subject) {
      wait_satisfied_ = true;
    }
  }
  if (bot_ms_ < 0) return;
  // The bot follows each buffer's file and pan from the log, as a listener would.
  if (e.op == "load") files_[e.id] = e.subject;
  if (e.op == "pan") pans_[e.id] = std::stoi(e.value);
  if (e.op == "play") falling_[e.id] = e.value == "once";
  if (e.op == "stop" || e.op == "release") falling_[e.id] = false;
  const uint32_t at = e.ms + static_cast<uint32_t>(bot_ms_);
  if (e.op == "play" && (e.subject == "launch.wav" || e.subject == "bonusFall.wav")) {
    ScheduleTap(SideOfPan(pans_[e.id]).key, at);
  } else if (e.op == "pan" && e.subject == "bonusFall.wav" && falling_[e.id]) {
    ScheduleTap(SideOfPan(pans_[e.id]).key, at);
  } else if (e.op == "play" && e.subject == "warning.wav") {
    ScheduleTap(kKeySpace, at);
  }
}

}  // namespace qv
