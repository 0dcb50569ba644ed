// real_platform.h -- the real machine behind the seam: an SDL2 window, timer and keyboard,
// OpenAL Soft sound buffers, the INI settings file and a libcurl transfer.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "platform/ini_store.h"
#include "platform/platform.h"

struct SDL_Window;
struct ALCdevice_struct;
struct ALCcontext_struct;

namespace qv {

class RealPlatform : public Platform {
 public:
  // sounds_dir: the folder CreateBuffer names files in, which also holds the game's own
  // OpenAL configuration (alsoft.conf). settings_path: the INI file of ReadSetting/StoreSetting.
  RealPlatform(std::string sounds_dir, std::string settings_path);
  // Releases everything Terminate would, without ending the process (tests, benchmarks).
  ~RealPlatform() override;
  RealPlatform(const RealPlatform&) = delete;
  RealPlatform& operator=(const RealPlatform&) = delete;

  uint32_t TickCount() override;
  uint32_t ClockSeed() override;

  void ShowWindow() override;
  WindowEvents ProcessEvents() override;
  void MessageBox(const std::string& text) override;
  [[noreturn]] void Terminate(int status) override;
  void SetTimerEnabled(bool enabled) override;

  bool CreateKeyboard() override;
  bool AcquireKeyboard() override;
  KeyRead ReadKeyboard(uint8_t state[256]) override;

  bool OpenSoundDevice() override;
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
  int TransferStatus() override;

  // Not part of the seam: where a buffer's source is playing from, in bytes of its file's data
  // (tests use it to check pause and rewind without listening).
  uint32_t PlayPosition(BufferId id);
  // The window the keyboard reads follow (null before ShowWindow).
  SDL_Window* Window() const { return window_; }

 private:
  struct Sound {
    std::string file;
    unsigned source = 0;
    unsigned buffer = 0;
    int sample_rate = 0;
    int channels = 1;
    uint32_t bytes = 0;        // size of the decoded data
    uint32_t frame_bytes = 1;  // bytes of one sample frame, all channels
  };

  Sound& Find(BufferId id, const char* operation);
  // Throws PlatformError when the last OpenAL call failed.
  void Check(const char* operation, const std::string& file);
  // Everything Terminate releases; safe to run twice.
  void Shutdown();
  void ReleaseAll();
  void CloseSoundDevice();
  void AbandonTransfer();
  void DriveTransfer();
  bool HasFocus() const;

  std::string sounds_dir_;
  IniStore settings_;

  bool sdl_started_ = false;
  SDL_Window* window_ = nullptr;
  uint32_t timer_event_ = 0;  // SDL user event type posted by Timer1
  int timer_id_ = 0;

  bool keyboard_created_ = false;
  bool keyboard_acquired_ = false;
  // Keys that went down during the last event turn: a press and release that both arrive
  // within one turn still reads as down for that turn, so a quick tap is never lost.
  std::array<bool, 512> pressed_this_turn_{};

  ALCdevice_struct* device_ = nullptr;
  ALCcontext_struct* context_ = nullptr;
  std::map<BufferId, Sound> sounds_;
  BufferId next_id_ = 1;

  void* curl_multi_ = nullptr;  // CURLM*
  void* curl_easy_ = nullptr;   // CURL* of the running or last transfer
  bool transfer_running_ = false;
  int transfer_status_ = 0;
};

}  // namespace qv
