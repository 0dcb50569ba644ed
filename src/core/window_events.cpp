// window_events.cpp -- event processing and the window's handlers.
#include "core/window_events.h"

#include <cstdlib>

#include "core/program.h"

namespace qv {

void DoEvents(Program& pg, std::optional<uint32_t> due) {
  WindowEvents ev = pg.system.ProcessEvents(due);
  for (int i = 0; i < ev.timer_ticks; ++i) Timer1_Timer(pg);
  if (ev.close_requested) Form_Unload(pg);
}

void Form_Unload(Program& pg) {
  if (pg.SaveOnClose != nullptr) pg.SaveOnClose(pg);
  pg.system.Terminate(0);
  std::abort();  // Terminate never returns
}

void Timer1_Timer(Program& pg) { ++pg.TimerTicks; }

}  // namespace qv
