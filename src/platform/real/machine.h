// machine.h -- the real machine behind the seam, one class per part: the SDL2 window, event
// pump and timer (system.cpp), the SDL2 keyboard and game controllers (input.cpp,
// controller.cpp), sound buffers on the game's own
// mixer played through PulseAudio or SDL's audio (sound.cpp, output.cpp) and the libcurl
// transfer (transfer.cpp); RealPlatform owns one of each.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/real/controller.h"

struct SDL_Window;
union SDL_Event;

namespace qv {

class Mixer;
class Output;

class SdlSound : public Sound {
 public:
  // sounds_dir: the folder CreateBuffer names files in.
  explicit SdlSound(std::string sounds_dir);
  ~SdlSound() override;
  SdlSound(const SdlSound&) = delete;
  SdlSound& operator=(const SdlSound&) = delete;

  bool OpenSoundDevice() override;
  // Starts opening the output on a thread of its own, so that a sound server's answers come
  // while the window is being made; OpenSoundDevice, and anything that needs the output, waits
  // for it. SDL's audio is left to OpenSoundDevice: SDL may start only one part at a time.
  void StartOpening();
  // Waits for StartOpening's thread, if one runs.
  void FinishOpening();
  BufferId CreateBuffer(const std::string& file) override;
  void Play(BufferId id, PlayMode mode) override;
  void Stop(BufferId id) override;
  void SetCurrentPosition(BufferId id, uint32_t byte_offset) override;
  void SetVolume(BufferId id, int hundredths_db) override;
  void SetPan(BufferId id, int pan) override;
  void SetFrequency(BufferId id, int hertz) override;
  int GetStatus(BufferId id) override;
  void SetQuickResponse(bool quick) override;
  void Release(BufferId id) override;

  // Called on the output's thread the moment a sound played once ends, so that the event pump
  // can wake the loop waiting for it. Set by the pump before the device opens.
  void SetEndListener(std::function<void()> listener);
  // Milliseconds until the first sound played once reads as ended: its end heard (less the
  // mixer's kEndToldAheadMs), counting what the output holds; nothing when none plays. The end
  // listener wakes the pump when the mixer reaches an end, which may be before it is heard;
  // this wakes it when the end is told.
  // An end told since the last call reads as 0 (the game may have read the sound as playing
  // just before, and be about to wait for it): once for each end.
  std::optional<uint32_t> MsToNextEnd();
  // Where a buffer is playing from, in bytes of its file's data (tests check pause and
  // rewind with it without listening).
  uint32_t PlayPosition(BufferId id);
  // Releases every buffer and closes the device; safe to run twice.
  void Close();
  // When the sound server has gone (restarted, unplugged), opens the default device again; the
  // buffers go on from where they were, since they live in the game's own mixer. Run by every
  // buffer operation and every turn of the event pump. Throws SoundDeviceLost when no device
  // can be opened within a few seconds.
  void KeepDevice();

 private:
  // The mixer, made once, before the output that pulls from it.
  void MakeMixer();
  // The output frame being heard now (all that was mixed, without an output).
  uint64_t Heard();

  struct Buffer {
    std::string file;
    uint32_t frame_bytes = 2;  // bytes of one frame of the file's data, all channels
    size_t frames = 0;
    int rate = 0;  // the file's rate, or the frequency the game set
  };

  Buffer& Find(BufferId id, const char* operation);
  void TellBuffer(std::string_view op, BufferId id, std::string_view value);

  std::string sounds_dir_;
  std::function<void()> on_end_;
  std::unique_ptr<Mixer> mixer_;
  std::unique_ptr<Output> output_;
  std::thread opening_;     // StartOpening's, which sets output_ before it ends
  bool quick_ = false;      // SetQuickResponse's, for every output opened
  uint64_t end_woken_ = 0;  // the last told end MsToNextEnd answered 0 for (Mixer::told_at)
  std::map<BufferId, Buffer> buffers_;
  BufferId next_id_ = 1;
};

class CurlTransfer : public Transfer {
 public:
  CurlTransfer() = default;
  ~CurlTransfer() override;
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  void StartTransfer(const std::string& url, const std::string& body) override;
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

  void* multi_ = nullptr;    // CURLM*
  void* easy_ = nullptr;     // CURL* of the running transfer
  std::string url_;          // of the last transfer started
  std::string body_;         // what a POST sends, held while it runs
  void* headers_ = nullptr;  // curl_slist* of a POST's headers
  bool running_ = false;
  int status_ = 0;
};

class SdlSystem : public System {
 public:
  // The pump wakes for the sound's ends and drives the transfer; Terminate closes both.
  SdlSystem(SdlSound& sound, CurlTransfer& transfer);
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
  // The game controllers, whose buttons the keyboard reads as keys.
  Controllers& GameControllers() { return controllers_; }
  // Everything Terminate releases, without ending the process; safe to run twice.
  void Close();

 private:
  // When this turn stops waiting, in microseconds of the monotonic clock: the first of the
  // loop's deadline, a playing sound's end (a period after it, as a fallback) and the cap. A
  // sound's end, a key and the like end it earlier through their events.
  uint64_t WakeTime(std::optional<uint32_t> due);
  // Takes one event into this turn's result; true when it is one the loop must see at once
  // (a key, focus, close, a timer tick), which ends the turn.
  bool Deliver(const SDL_Event& event, WindowEvents& events);
  // The same for a controller's event (controller.cpp): one plugged in or out is opened or
  // closed; a button is input, as a key is.
  bool DeliverController(const SDL_Event& event);

  SdlSound& sound_;
  CurlTransfer& transfer_;
  bool sdl_started_ = false;
  SDL_Window* window_ = nullptr;
  uint32_t timer_event_ = 0;      // SDL user event type posted by Timer1
  uint32_t sound_end_event_ = 0;  // posted from the audio output when a sound ends
  int timer_id_ = 0;
  bool input_last_turn_ = false;  // the last turn delivered input: this one does not sleep
  std::array<bool, 512> pressed_this_turn_{};
  Controllers controllers_;
  // The environment as the game found it, for the programs it starts; empty before ShowWindow.
  std::vector<std::string> child_environment_;
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
  std::array<uint8_t, 256> seen_{};  // each key as the last read saw it, for the observers
};

// The whole real machine.
class RealPlatform {
 public:
  explicit RealPlatform(std::string sounds_dir)
      : sound(std::move(sounds_dir)), system(sound, transfer), input(system) {}

  Platform Parts() { return Platform{system, input, sound, transfer}; }

  SdlSound sound;
  CurlTransfer transfer;
  SdlSystem system;
  SdlInput input;
};

}  // namespace qv
