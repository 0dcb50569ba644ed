// logged.h -- wraps a backend's four parts and writes every sound, timer, transfer, message and
// exit event to the sound log (and, for the real keyboard, each key change a read first sees).
// The simulator and the real program both use it; settings stores are logged by the store.
#pragma once

#include <array>
#include <map>

#include "platform/platform.h"
#include "platform/sound_log.h"

namespace qv {

class LoggedPlatform : public System, public Input, public Sound, public Transfer {
 public:
  // log_keys: log key changes as reads see them (the real program; the simulator logs its
  // script's and bot's keys itself). Sets the log's clock to the time since construction.
  LoggedPlatform(Platform inner, SoundLog& log, bool log_keys = false);

  Platform Parts() { return Platform{*this, *this, *this, *this}; }

  uint32_t TickCount() override { return inner_.system.TickCount(); }
  uint32_t ClockSeed() override { return inner_.system.ClockSeed(); }
  void ShowWindow() override { inner_.system.ShowWindow(); }
  WindowEvents ProcessEvents(std::optional<uint32_t> due) override;
  void MessageBox(const std::string& text) override;
  [[noreturn]] void Terminate(int status) override;
  void SetTimerEnabled(bool enabled) override;

  bool CreateKeyboard() override { return inner_.input.CreateKeyboard(); }
  bool AcquireKeyboard() override { return inner_.input.AcquireKeyboard(); }
  KeyRead ReadKeyboard(uint8_t state[256]) override;

  bool OpenSoundDevice() override { return inner_.sound.OpenSoundDevice(); }
  BufferId CreateBuffer(const std::string& file) override;
  void Play(BufferId id, int flags) override;
  void Stop(BufferId id) override;
  void SetCurrentPosition(BufferId id, uint32_t byte_offset) override;
  void SetVolume(BufferId id, int hundredths_db) override;
  void SetPan(BufferId id, int pan) override;
  void SetFrequency(BufferId id, int hertz) override;
  int GetStatus(BufferId id) override { return inner_.sound.GetStatus(id); }
  void Release(BufferId id) override;

  void StartTransfer(const std::string& url) override;
  bool TransferExecuting() override;
  int TransferStatus() override { return inner_.transfer.TransferStatus(); }

  // Milliseconds since the program started, as the log counts them.
  uint32_t Elapsed() { return inner_.system.TickCount() - start_tick_; }

 private:
  void Log(const std::string& op, BufferId id, const std::string& subject,
           const std::string& value);
  void LogBuffer(const std::string& op, BufferId id, const std::string& value);

  Platform inner_;
  SoundLog& log_;
  bool log_keys_;
  uint32_t start_tick_;
  std::map<BufferId, std::string> files_;  // buffer id -> file it was made from
  std::string transfer_url_;
  bool transfer_running_ = false;
  std::array<uint8_t, 256> keys_seen_{};
};

}  // namespace qv
