// virtual_platform.h -- the whole machine in memory and in virtual time, for tests and the
// simulator: every turn of the window system is exactly 1 ms, sounds play by counting frames,
// and nothing waits on a real clock. It knows nothing of the game: whoever drives it (a test,
// the simulator's script and bot) sets keys, focus and closes through its own calls, once per
// virtual millisecond from the turn hook.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/platform.h"

namespace qv {

// Thrown by Terminate: the program has ended with this status.
struct ProgramEnded {
  int status;
};
// Thrown when virtual time reaches the until_ms limit.
struct UntilReached {};

struct VirtualOptions {
  std::string sounds_dir;       // folder the wave files are read from
  uint32_t seed = 1;            // mixed into every clock seed, so runs repeat
  uint32_t tick0 = 0;           // the tick count at the start
  uint32_t until_ms = 3600000;  // virtual time limit
  int http_status = 200;
  int http_delay_ms = 100;  // -1: a transfer never ends
  bool no_device = false;   // the sound device cannot be opened
};

class VirtualPlatform : public System, public Input, public Sound, public Transfer {
 public:
  explicit VirtualPlatform(VirtualOptions options);

  Platform Parts() { return Platform{*this, *this, *this, *this}; }

  uint32_t TickCount() override { return now_; }
  uint32_t ClockSeed() override;
  void ShowWindow() override { window_shown_ = true; }
  // Advances the clock by exactly 1 ms whatever is due, runs the turn hook, then delivers
  // what is due at the new time: timer ticks, the transfer's end, sounds reaching their end.
  WindowEvents ProcessEvents(std::optional<uint32_t> due) override;
  void MessageBox(const std::string& text) override;
  [[noreturn]] void Terminate(int status) override;
  void SetTimerEnabled(bool enabled) override;

  bool CreateKeyboard() override;
  bool AcquireKeyboard() override;
  KeyRead ReadKeyboard(uint8_t state[256]) override;

  bool OpenSoundDevice() override { return !options_.no_device; }
  BufferId CreateBuffer(const std::string& file) override;
  void Play(BufferId id, PlayMode mode) override;
  void Stop(BufferId id) override;
  void SetCurrentPosition(BufferId id, uint32_t byte_offset) override;
  void SetVolume(BufferId id, int hundredths_db) override;
  void SetPan(BufferId id, int pan) override;
  void SetFrequency(BufferId id, int hertz) override;
  int GetStatus(BufferId id) override;
  // Kept for the tests to read: virtual time has no output to size.
  void SetQuickResponse(bool quick) override { quick_response_ = quick; }
  void Release(BufferId id) override;

  void StartTransfer(const std::string& url, const std::string& body) override;
  bool TransferExecuting() override { return transfer_running_; }
  int TransferStatus() override { return transfer_status_; }

  // Run at each virtual millisecond, after the clock has advanced: the script and the bot.
  void SetTurnHook(std::function<void()> hook) { turn_hook_ = std::move(hook); }
  // Run at the end of each turn, once the sounds have advanced: the simulator's render mixes
  // the millisecond that has passed.
  void SetTurnEndHook(std::function<void()> hook) { turn_end_hook_ = std::move(hook); }
  // A key held down or released now; the window's focus; a close of the window.
  void SetKey(int scan_code, bool down);
  void SetFocus(bool focused);
  void RequestClose() { close_pending_ = true; }

  // What a buffer is doing (tests).
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
  // Milliseconds since the start.
  uint32_t Elapsed() const { return now_ - options_.tick0; }
  bool KeyboardAcquired() const { return acquired_; }
  bool QuickResponse() const { return quick_response_; }
  // What the last transfer sent (empty for a GET).
  const std::string& TransferBody() const { return transfer_body_; }

 private:
  Buffer& Get(BufferId id);
  // Tells the observers an operation on a buffer.
  void TellBuffer(std::string_view op, BufferId id, std::string_view value);
  void AdvanceSounds();

  VirtualOptions options_;
  uint32_t now_;
  bool window_shown_ = false;
  bool quick_response_ = false;
  bool close_pending_ = false;
  std::function<void()> turn_hook_;
  std::function<void()> turn_end_hook_;

  // Keyboard.
  uint8_t keys_[256] = {};
  uint8_t tapped_[256] = {};  // went down in this turn: the next read sees it down
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
  std::string transfer_url_;
  std::string transfer_body_;
  int transfer_status_ = 0;
};

}  // namespace qv
