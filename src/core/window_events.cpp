// window_events.cpp -- event processing and the window's handlers.
#include "core/window_events.h"

namespace qv {

void DoEvents(Window& window, std::optional<uint32_t> due) {
  WindowEvents ev = window.system.ProcessEvents(due);
  for (int i = 0; i < ev.timer_ticks; ++i) Timer1_Timer(window);
  if (ev.close_requested) Form_Unload(window);
}

void Form_Unload(Window&) { throw WindowClosed{}; }

void Timer1_Timer(Window& window) { ++window.TimerTicks; }

}  // namespace qv
