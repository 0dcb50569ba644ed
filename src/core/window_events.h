// window_events.h -- the game's window as its loops see it: one turn of the window system, the
// close of the window, and Timer1 with its tick counter.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/system.h"

namespace qv {

// The window's own state, and the system part of the platform it turns.
struct Window {
  explicit Window(System& system_part) : system(system_part) {}
  System& system;
  uint8_t TimerTicks = 0;  // Timer1's tick counter; only Timer1_Timer adds to it
};

// Thrown by Form_Unload: the window is being closed and the program must end at once, playing
// nothing. It unwinds whatever loop was running to Main, which ends the program; on its way, a
// game in play catches it to keep its better score first, and passes it on.
struct WindowClosed {};

// Lets the window system process pending events: runs Timer1_Timer for each timer tick and
// Form_Unload when the window is being closed. Every loop calls it once per pass, telling it
// the tick count at which the loop next has something to do (a launch, a landing), if any,
// so that the turn may sleep until then or until an event comes.
void DoEvents(Window& window, std::optional<uint32_t> due = std::nullopt);
// The window is being closed: throws WindowClosed.
[[noreturn]] void Form_Unload(Window& window);
// One tick of Timer1 (on only while a score submission waits).
void Timer1_Timer(Window& window);

}  // namespace qv
