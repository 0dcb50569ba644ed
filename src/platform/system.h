// system.h -- the seam's window, clock and process: the tick count, one turn of the window
// system, the message box, the timer and the immediate end of the program.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/observer.h"

namespace qv {

// A platform call that failed and that no caller handles (a missing wave file, a failing
// buffer operation). Main reports what() in the message box and ends with status 1.
struct PlatformError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The sound device went away while the game ran and could not be opened again.
struct SoundDeviceLost : PlatformError {
  using PlatformError::PlatformError;
};

// Timer1 ticks this often while enabled; the score submission gives up after 21 ticks.
constexpr uint32_t kTimerPeriodMs = 500;

// What one turn of the window system delivered.
struct WindowEvents {
  bool close_requested = false;  // the window is being closed: Form_Unload must run
  int timer_ticks = 0;           // Timer1 ticks due since the last turn
};

// Observers hear "timer" (after SetTimerEnabled), "message" and "exit" (before the box and the
// end, which do not come back at once), and the HTTP transfer's end from the turn that first
// sees it.
class System : public virtual Observable {
 public:
  virtual ~System() = default;

  // Who calls each operation is named by layer, as in sound.h.

  // Milliseconds of the system clock; wraps modulo 2^32. Read afresh at each use by game (a
  // target's flight, the launch timer) and by the sound log's stamps.
  virtual uint32_t TickCount() = 0;
  // A seed taken from the time of day, for the random generator: startup (Main) seeds it once,
  // and core's RandomIntReseeded again at each launch of game.
  virtual uint32_t ClockSeed() = 0;
  // Creates and shows the game's empty window. Called once, by startup (Main), before any
  // device.
  virtual void ShowWindow() = 0;
  // One turn of the window system, called once per pass by every loop, through core's
  // DoEvents: those of sound (the players' waits), game, submit and menu. It may wait
  // until the first of: a window event (a key, focus, close, timer tick), the tick count `due`
  // the calling loop has something to do at, or what the platform knows is due itself (a
  // playing sound's end, a running transfer); never more than a second. A turn that follows
  // one that delivered input does not wait, so the loop sees every event at its next pass.
  virtual WindowEvents ProcessEvents(std::optional<uint32_t> due) = 0;
  // A modal box with an OK button, captioned "QuorVane"; the text also goes to standard error
  // (and is spoken where speech is at hand). Called by startup (Main, StartUp) just before the
  // program ends with an error (a failure no one handles, no sound device), and by store
  // (ReadStartupSettings) when the settings file cannot be used: the game then plays on.
  virtual void MessageBox(const std::string& text) = 0;
  // Ends the program at once with this exit status, releasing every platform object. Called by
  // startup only: after an error's message box (status 1), by ExitGame when the player leaves
  // and by Main once the window's close has unwound what ran (status 0).
  [[noreturn]] virtual void Terminate(int status) = 0;
  // Switches Timer1 (kTimerPeriodMs) on or off; called by submit (SubmitScore) around its wait
  // for the transfer.
  virtual void SetTimerEnabled(bool enabled) = 0;
};

}  // namespace qv
