// window.cpp -- event processing and the window's handlers.
#include "startup/window.h"

#include <cstdlib>

#include "startup/program.h"

namespace qv {

void DoEvents(Program& pg) {
  WindowEvents ev = pg.platform.ProcessEvents();
  for (int i = 0; i < ev.timer_ticks; ++i) Timer1_Timer(pg);
  if (ev.close_requested) Form_Unload(pg);
}

void Form_Unload(Program& pg) {
  pg.platform.Terminate(0);
  std::abort();  // Terminate never returns
}

void Timer1_Timer(Program& pg) { ++pg.TimerTicks; }

}  // namespace qv
