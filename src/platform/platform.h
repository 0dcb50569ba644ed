// platform.h -- the one seam between the game and the machine: window, clock, keyboard,
// sound buffers, settings store and the score transfer. Game code calls nothing else.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qv {

// A platform call that failed and that no caller handles (a missing wave file, a failing
// buffer operation). Main reports what() in the message box and ends with status 1.
struct PlatformError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Sound buffers are numbered 1, 2, 3... in order of creation and never reused; 0 is "empty".
using BufferId = int;

// Play flags and status bits, in the units of the game's sound buffers.
constexpr int kPlayOnce = 0;
constexpr int kPlayLooping = 1;
constexpr int kStatusPlaying = 1;
constexpr int kStatusLooping = 4;

// What one turn of the window system delivered.
struct WindowEvents {
  bool close_requested = false;  // the window is being closed: Form_Unload must run
  int timer_ticks = 0;           // Timer1 ticks due since the last turn
};

// Outcome of a keyboard read; the two recoverable failures mirror the game's keyboard rules.
enum class KeyRead { Ok, NotAcquired, InputLost, OtherError };

class Platform {
 public:
  virtual ~Platform() = default;

  // Milliseconds of the system clock; wraps modulo 2^32. Read afresh at each use.
  virtual uint32_t TickCount() = 0;
  // A seed taken from the clock, for the random generator (at start-up and at each launch).
  virtual uint32_t ClockSeed() = 0;

  // Creates and shows the game's (empty) window.
  virtual void ShowWindow() = 0;
  // One turn of the window system; called once per pass of every loop. Never sleeps long.
  virtual WindowEvents ProcessEvents() = 0;
  // Modal box with an OK button, captioned "QuorVane"; the text also goes to standard error.
  virtual void MessageBox(const std::string& text) = 0;
  // Ends the program at once with the given exit status: releases every platform object.
  [[noreturn]] virtual void Terminate(int status) = 0;
  // Switches Timer1 (500 ms period) on or off.
  virtual void SetTimerEnabled(bool enabled) = 0;

  // Keyboard: create the device (not acquired), acquire it, read the 256-byte state by scan code.
  virtual bool CreateKeyboard() = 0;
  virtual bool AcquireKeyboard() = 0;
  virtual KeyRead ReadKeyboard(uint8_t state[256]) = 0;

  // Opens the default sound device; false when there is none.
  virtual bool OpenSoundDevice() = 0;
  // A buffer holding the whole decoded file, named relative to the sounds folder
  // ("intro.wav", "numbers/sn1.wav"). Throws PlatformError naming the file on failure.
  virtual BufferId CreateBuffer(const std::string& file) = 0;
  virtual void Play(BufferId id, int flags) = 0;
  virtual void Stop(BufferId id) = 0;  // pauses: the position stays
  virtual void SetCurrentPosition(BufferId id, uint32_t byte_offset) = 0;
  virtual void SetVolume(BufferId id, int hundredths_db) = 0;  // -10000..0
  virtual void SetPan(BufferId id, int pan) = 0;               // -10000..10000
  virtual void SetFrequency(BufferId id, int hertz) = 0;
  virtual int GetStatus(BufferId id) = 0;  // kStatusPlaying | kStatusLooping
  virtual void Release(BufferId id) = 0;   // silences it if playing

  // The per-user settings store; names compare ignoring case.
  virtual std::string ReadSetting(const std::string& app, const std::string& section,
                                  const std::string& key, const std::string& default_value) = 0;
  virtual void StoreSetting(const std::string& app, const std::string& section,
                            const std::string& key, const std::string& value) = 0;

  // One HTTP GET at a time, never blocking: start it, ask whether it is still running, and
  // once it is not, its HTTP status (0 when the transfer itself failed).
  virtual void StartTransfer(const std::string& url) = 0;
  virtual bool TransferExecuting() = 0;
  virtual int TransferStatus() = 0;
};

}  // namespace qv
