// window_events.h -- the game's window: one turn of the window system for the polling loops,
// and the handlers of its close and of its timer Timer1.
#pragma once

#include <cstdint>
#include <optional>

namespace qv {

struct Program;

// Lets the window system process pending events: runs Timer1_Timer for each timer tick and
// Form_Unload when the window is being closed. Every loop calls it once per pass, telling it
// the tick count at which the loop next has something to do (a launch, a landing), if any,
// so that the turn may sleep until then or until an event comes.
void DoEvents(Program& pg, std::optional<uint32_t> due = std::nullopt);
// The window is being closed: the program ends at once, playing nothing; of what it would
// save, only a game in play keeps its better score (SaveOnClose).
[[noreturn]] void Form_Unload(Program& pg);
// One tick of Timer1 (on only while a score submission waits).
void Timer1_Timer(Program& pg);

}  // namespace qv
