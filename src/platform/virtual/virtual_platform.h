// virtual_platform.h -- the whole machine in memory and in virtual time, for tests and the
// simulator: every turn of the window system is exactly 1 ms, keys come from a script and a
// bot, sounds play by counting frames, and nothing waits on a real clock.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/ini_store.h"
#include "platform/platform.h"
#include "platform/sound_log.h"
#include "platform/virtual/script.h"

namespace qv {

// Thrown by Terminate: the program has ended with this status.
struct ProgramEnded {
  int status;
};
// Thrown when virtual time reaches the --until limit.
struct UntilReached {};

struct VirtualOptions {
  std::string sounds_dir;     // folder the wave files are read from
  std::string settings_path;  // empty: an empty store in memory
  uint32_t seed = 1;
  uint32_t tick0 = 0;           // the tick count at the start
  uint32_t until_ms = 3600000;  // virtual time limit
  int bot_ms = -1;              // the bot's reaction time; -1 without the bot
  int http_status = 200;
  int http_delay_ms = 100;  // -1: a transfer never ends
  bool no_device = false;   // the sound device cannot be opened
  std::vector<ScriptCommand> script;
};

class VirtualPlatform : public Platform {
 public:
  // The log receives the key events of script and bot, and feeds the script's waits and the
  // bot; it should be the log the LoggedPlatform around this one writes to.
  VirtualPlatform(VirtualOptions options, SoundLog& log);

  uint32_t TickCount() override { return now_; }
  uint32_t ClockSeed() override;
  void ShowWindow() override { window_shown_ = true; }
  WindowEvents ProcessEvents() override;
  void MessageBox(const std::string& text) override;
  [[noreturn]] void Terminate(int status) override;
  void SetTimerEnabled(bool enabled) override;

  bool CreateKeyboard() override;
  bool AcquireKeyboard() override;
  KeyRead ReadKeyboard(uint8_t state[256]) override;

  bool OpenSoundDevice() override { return !options_.no_device; }
  BufferId CreateBuffer(const std::string& file) override;
  void Play(BufferId id, int flags) override;
  void Stop(BufferId id) override;
  void SetCurrentPosition(BufferId id, uint32_t byte_offset) override;
  void SetVolume(BufferId id, int hundredths_db) override;
  void SetPan(BufferId id, int pan) override;
  void SetFrequency(BufferId id, int hertz) override;
  int GetStatus(BufferId id) override;
  void Release(BufferId id) override;

  std::string ReadSetting(const std::string& app, const std::string& section,
                          const std::string& key, const std::string& default_value) override;
  void StoreSetting(const std::string& app, const std::string& section, const std::string& key,
                    const std::string& value) override;

  void StartTransfer(const std::string& url) override;
  bool TransferExecuting() override;
  int TransferStatus() override { return transfer_status_; }

  // For tests: a key held down or released now, and the window's focus.
  void SetKey(int scan_code, bool down);
  void SetFocus(bool focused);
  void RequestClose() { close_pending_ = true; }
  // For tests: what a buffer is doing.
  struct Buffer {
    std::string file;
    uint32_t rate = 0;
    uint16_t channels = 1;
    uint16_t bytes_per_frame = 2;
    uint32_t frames = 0;
    uint64_t position_milli = 0;  // in thousandths of a frame, so playback counts exactly
    double position() const { return position_milli / 1000.0; }
    bool playing = false;
    bool looping = false;
    int frequency = 0;
    int volume = 0;
    int pan = 0;
  };
  const Buffer* FindBuffer(BufferId id) const;
  uint32_t Now() const { return now_; }
  bool KeyboardAcquired() const { return acquired_; }

 private:
  Buffer& Get(BufferId id);
  uint32_t Elapsed() const { return now_ - options_.tick0; }
  void AdvanceSounds();
  void RunScript();
  void RunBot();
  void OnLogEntry(const LogEntry& e);
  void ScheduleTap(int key, uint32_t at);

  VirtualOptions options_;
  SoundLog& log_;
  IniStore store_;
  uint32_t now_;
  bool window_shown_ = false;
  bool close_pending_ = false;

  // Keyboard.
  uint8_t keys_[256] = {};
  bool keyboard_created_ = false;
  bool acquired_ = false;
  bool focused_ = true;
  bool lost_since_read_ = false;  // the next read reports "input lost" rather than "not acquired"

  // Sound.
  std::map<BufferId, Buffer> buffers_;
  BufferId next_id_ = 1;

  // Timer1.
  bool timer_enabled_ = false;
  uint32_t next_timer_tick_ = 0;

  // Transfer.
  bool transfer_running_ = false;
  uint32_t transfer_ends_ = 0;
  int transfer_status_ = 0;

  // Script and bot.
  size_t script_pc_ = 0;
  bool command_started_ = false;
  uint32_t command_start_ = 0;  // when the current command began (the last one's end)
  uint32_t command_until_ = 0;  // sleep or tap: when it is done
  bool wait_satisfied_ = false;
  struct PendingKey {
    uint32_t at;
    int key;
    bool down;
  };
  std::vector<PendingKey> bot_keys_;
};

}  // namespace qv
