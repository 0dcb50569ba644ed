// machine.h -- the real machine behind the seam, one class per part: the SDL2 window, event
// pump and timer (system.cpp), the SDL2 keyboard (input.cpp), OpenAL Soft sound buffers
// (sound.cpp) and the libcurl transfer (transfer.cpp); RealPlatform owns one of each.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/platform.h"

struct SDL_Window;
union SDL_Event;
struct ALCdevice_struct;
struct ALCcontext_struct;

namespace qv {

class AlSound : public Sound {
 public:
  // sounds_dir: the folder CreateBuffer names files in; it also holds the game's own OpenAL
  // configuration (alsoft.conf), used unless the player has set ALSOFT_CONF.
  explicit AlSound(std::string sounds_dir);
  ~AlSound() override;
  AlSound(const AlSound&) = delete;
  AlSound& operator=(const AlSound&) = delete;

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

  // Milliseconds until the first sound played once may reach its end (its state can change
  // up to one mixing period before its offset says); nothing when none plays. The event pump
  // wakes then and looks again every millisecond, so a wait for a sound's end sees it at once.
  std::optional<uint32_t> MsToNextEnd();
  // Where a buffer is playing from, in bytes of its file's data (tests check pause and
  // rewind with it without listening).
  uint32_t PlayPosition(BufferId id);
  // Releases every buffer and closes the device; safe to run twice.
  void Close();
  // When the sound server has gone (restarted, unplugged), opens the default device again and
  // rebuilds every buffer as it was: volume, pan, frequency, position, playing or not. Run by
  // every buffer operation and every turn of the event pump. Throws SoundDeviceLost when no
  // device can be opened within a few seconds.
  void KeepDevice();

 private:
  // A buffer is two sources fed in step: one heard only on the left, one only on the right,
  // so each channel's level can be set on its own (the pan law: the far channel alone is
  // attenuated). A mono file feeds both from one buffer; a stereo file gives each its channel.
  struct Voice {
    std::string file;
    std::array<unsigned, 2> sources{};  // left, right
    std::array<unsigned, 2> buffers{};  // left, right (the same one for a mono file)
    int sample_rate = 0;
    int channels = 1;
    uint32_t bytes = 0;        // size of the file's decoded data
    uint32_t frame_bytes = 2;  // bytes of one frame of it, all channels
    float pitch = 1.0f;
    int volume = 0;
    int pan = 0;
    // Where it is, kept here too so that it survives the loss of the device: not playing, the
    // frame it holds at; playing, the frame it started from and when.
    bool playing = false;
    bool looping = false;
    uint32_t frame = 0;
    uint64_t since_ms = 0;
  };

  Voice& Find(BufferId id, const char* operation);
  // Makes the voice's OpenAL buffers and sources from its file, with its gains and pitch.
  void Build(Voice& v, const std::string& fail);
  // The frame the voice is at now, by the clock; playing once past its end, 0 and not playing.
  uint32_t FrameNow(Voice& v);
  bool DeviceConnected();
  bool OpenDevice();
  void Check(const char* operation, const std::string& file);
  void ApplyGains(const Voice& v);
  void DeleteVoice(Voice& v);

  std::string sounds_dir_;
  ALCdevice_struct* device_ = nullptr;
  ALCcontext_struct* context_ = nullptr;
  double period_ms_ = 0;  // one mixing period of the open device
  std::map<BufferId, Voice> voices_;
  BufferId next_id_ = 1;
};

class CurlTransfer : public Transfer {
 public:
  CurlTransfer() = default;
  ~CurlTransfer() override;
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  void StartTransfer(const std::string& url) override;
  bool TransferExecuting() override;
  int TransferStatus() override { return status_; }

  // Advances a running transfer without waiting; called by every turn of the event pump.
  void Drive();
  // Waits up to ms for activity on the transfer's sockets (or its own time-outs).
  void WaitForActivity(int ms);
  bool Running() const { return running_; }
  // Drops a running transfer and frees libcurl's handles; safe to run twice.
  void Close();

 private:
  void Abandon();

  void* multi_ = nullptr;  // CURLM*
  void* easy_ = nullptr;   // CURL* of the running transfer
  bool running_ = false;
  int status_ = 0;
};

class SdlSystem : public System {
 public:
  // The pump wakes for the sound's ends and drives the transfer; Terminate closes both.
  SdlSystem(AlSound& sound, CurlTransfer& transfer);
  ~SdlSystem() override;
  SdlSystem(const SdlSystem&) = delete;
  SdlSystem& operator=(const SdlSystem&) = delete;

  uint32_t TickCount() override;
  uint32_t ClockSeed() override;
  void ShowWindow() override;
  WindowEvents ProcessEvents(std::optional<uint32_t> due) override;
  void MessageBox(const std::string& text) override;
  [[noreturn]] void Terminate(int status) override;
  void SetTimerEnabled(bool enabled) override;

  // For the keyboard: the window, whether it has the focus, and the keys that went down
  // during the last turn (indexed by SDL scan code), which the next read clears.
  SDL_Window* Window() const { return window_; }
  bool HasFocus() const;
  std::array<bool, 512>& PressedThisTurn() { return pressed_this_turn_; }
  // Everything Terminate releases, without ending the process; safe to run twice.
  void Close();

 private:
  // When this turn stops waiting, in microseconds of the monotonic clock: the first of the
  // loop's deadline, a playing sound's end, the next look at a running transfer, the cap.
  uint64_t WakeTime(std::optional<uint32_t> due);
  // Takes one event into this turn's result; true when it is one the loop must see at once
  // (a key, focus, close, a timer tick), which ends the turn.
  bool Deliver(const SDL_Event& event, WindowEvents& events);

  AlSound& sound_;
  CurlTransfer& transfer_;
  bool sdl_started_ = false;
  SDL_Window* window_ = nullptr;
  uint32_t timer_event_ = 0;  // SDL user event type posted by Timer1
  int timer_id_ = 0;
  bool input_last_turn_ = false;  // the last turn delivered input: this one does not sleep
  std::array<bool, 512> pressed_this_turn_{};
};

class SdlInput : public Input {
 public:
  explicit SdlInput(SdlSystem& system) : system_(system) {}

  bool CreateKeyboard() override;
  bool AcquireKeyboard() override;
  KeyRead ReadKeyboard(uint8_t state[256]) override;

 private:
  SdlSystem& system_;
  bool created_ = false;
  bool acquired_ = false;
};

// The whole real machine.
class RealPlatform {
 public:
  explicit RealPlatform(std::string sounds_dir)
      : sound(std::move(sounds_dir)), system(sound, transfer), input(system) {}

  Platform Parts() { return Platform{system, input, sound, transfer}; }

  AlSound sound;
  CurlTransfer transfer;
  SdlSystem system;
  SdlInput input;
};

}  // namespace qv
