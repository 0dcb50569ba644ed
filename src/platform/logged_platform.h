// logged_platform.h -- wraps a backend and writes every sound, settings, timer, transfer,
// message and exit event to the sound log. Both the simulator and the real program use it.
#pragma once

#include <map>
#include <memory>

#include "platform/platform.h"
#include "platform/sound_log.h"

namespace qv {

class LoggedPlatform : public Platform {
 public:
  LoggedPlatform(Platform& inner, SoundLog& log);

  uint32_t TickCount() override { return inner_.TickCount(); }
  uint32_t ClockSeed() override { return inner_.ClockSeed(); }
  void ShowWindow() override { inner_.ShowWindow(); }
  WindowEvents ProcessEvents() override;
  void MessageBox(const std::string& text) override;
  [[noreturn]] void Terminate(int status) override;
  void SetTimerEnabled(bool enabled) override;

  bool CreateKeyboard() override { return inner_.CreateKeyboard(); }
  bool AcquireKeyboard() override { return inner_.AcquireKeyboard(); }
  KeyRead ReadKeyboard(uint8_t state[256]) override { return inner_.ReadKeyboard(state); }

  bool OpenSoundDevice() override { return inner_.OpenSoundDevice(); }
  BufferId CreateBuffer(const std::string& file) override;
  void Play(BufferId id, int flags) override;
  void Stop(BufferId id) override;
  void SetCurrentPosition(BufferId id, uint32_t byte_offset) override;
  void SetVolume(BufferId id, int hundredths_db) override;
  void SetPan(BufferId id, int pan) override;
  void SetFrequency(BufferId id, int hertz) override;
  int GetStatus(BufferId id) override { return inner_.GetStatus(id); }
  void Release(BufferId id) override;

  std::string ReadSetting(const std::string& app, const std::string& section,
                          const std::string& key, const std::string& default_value) override {
    return inner_.ReadSetting(app, section, key, default_value);
  }
  void StoreSetting(const std::string& app, const std::string& section, const std::string& key,
                    const std::string& value) override;

  void StartTransfer(const std::string& url) override;
  bool TransferExecuting() override;
  int TransferStatus() override { return inner_.TransferStatus(); }

  // Milliseconds since the program started, as the log counts them.
  uint32_t Elapsed() { return inner_.TickCount() - start_tick_; }

 private:
  void Log(const std::string& op, BufferId id, const std::string& subject,
           const std::string& value);
  void LogBuffer(const std::string& op, BufferId id, const std::string& value);

  Platform& inner_;
  SoundLog& log_;
  uint32_t start_tick_;
  std::map<BufferId, std::string> files_;  // buffer id -> file it was made from
  std::string transfer_url_;
  bool transfer_running_ = false;
};

}  // namespace qv
