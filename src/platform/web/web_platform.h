// web_platform.h -- the browser behind the seam, one class per part: the page's event turn,
// Timer1 and messages (system.cpp), its keyboard and game controllers (input.cpp), sound
// buffers on the game's own mixer running in the page's audio thread (sound.cpp) and the fetch
// of the score submission (transfer.cpp); WebPlatform owns one of each. The page's side is in
// page/ and library_quorvane.js.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/sound_log.h"

namespace qv {

class WebSound : public Sound {
 public:
  bool OpenSoundDevice() override;
  BufferId CreateBuffer(const std::string& file) override;
  void Play(BufferId id, PlayMode mode) override;
  void Stop(BufferId id) override;
  void SetCurrentPosition(BufferId id, uint32_t byte_offset) override;
  void SetVolume(BufferId id, int hundredths_db) override;
  void SetPan(BufferId id, int pan) override;
  void SetFrequency(BufferId id, int hertz) override;
  int GetStatus(BufferId id) override;
  // The page's audio context keeps its own buffer, whatever the game needs: nothing to do.
  void SetQuickResponse(bool /*quick*/) override {}
  void Release(BufferId id) override;

  // Takes the ends the audio thread reported: a voice whose last command is the one that
  // ended it is stopped. Called by each turn of the event pump and by GetStatus.
  void TakeEnds();

 private:
  // The mixer's voices run in the audio thread; the game's thread keeps what it must answer at
  // once. seq numbers each voice's commands, so that an end reported for a play the game has
  // since replaced (a restart, a jump) is not taken for the new one's.
  struct Buffer {
    std::string file;
    uint32_t frame_bytes = 2;  // of the original wave file: positions are its byte offsets
    bool playing = false;
    bool looping = false;
    int seq = 0;
  };

  Buffer& Find(BufferId id, const char* operation);
  void Send(const char* op, BufferId id, Buffer& b, int value);
  void TellBuffer(std::string_view op, BufferId id, std::string_view value);

  bool open_ = false;
  std::map<BufferId, Buffer> buffers_;
  BufferId next_id_ = 1;
};

class WebTransfer : public Transfer {
 public:
  void StartTransfer(const std::string& url, const std::string& body) override;
  bool TransferExecuting() override;
  int TransferStatus() override { return status_; }
  // Looks whether the running fetch has ended, telling its end once. Called by every turn.
  void Check();

 private:
  std::string url_;
  bool running_ = false;
  int status_ = 0;
};

class WebSystem : public System {
 public:
  WebSystem(WebSound& sound, WebTransfer& transfer) : sound_(sound), transfer_(transfer) {}

  uint32_t TickCount() override;
  uint32_t ClockSeed() override;
  void ShowWindow() override {}
  WindowEvents ProcessEvents(std::optional<uint32_t> due) override;
  void MessageBox(const std::string& text) override;
  [[noreturn]] void Terminate(int status) override;
  void SetTimerEnabled(bool enabled) override;

 private:
  WebSound& sound_;
  WebTransfer& transfer_;
  bool input_last_turn_ = false;  // the last turn delivered input: this one does not wait
};

class WebInput : public Input {
 public:
  bool CreateKeyboard() override;
  bool AcquireKeyboard() override;
  KeyRead ReadKeyboard(uint8_t state[256]) override;

 private:
  bool created_ = false;
  bool acquired_ = false;
  std::array<uint8_t, 256> seen_{};  // each key as the last read saw it, for the observers
};

// Sends every line of the sound log to the page, which shows the words of what is spoken in
// its live region and lets the tests follow the game.
void MirrorToPage(SoundLog& log);

// The whole browser machine.
class WebPlatform {
 public:
  WebPlatform() : system(sound, transfer) {}
  Platform Parts() { return Platform{system, input, sound, transfer}; }

  WebSound sound;
  WebTransfer transfer;
  WebSystem system;
  WebInput input;
};

}  // namespace qv
