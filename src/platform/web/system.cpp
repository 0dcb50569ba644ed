// system.cpp -- the event turn, Timer1, the message and the end of the program in the browser.
// A turn hands the browser its thread (the game is suspended by Asyncify, its loops and their
// stack kept as they are) until something is due.
#include "platform/system.h"

#include <emscripten.h>

#include <algorithm>

#include "platform/web/page_calls.h"
#include "platform/web/web_platform.h"

namespace qv {

namespace {

// The longest a turn waits with nothing due: a loop that told it nothing still comes round
// once a second, as natively.
constexpr uint32_t kMaxWaitMs = 1000;

}  // namespace

uint32_t WebSystem::TickCount() { return static_cast<uint32_t>(emscripten_get_now()); }

uint32_t WebSystem::ClockSeed() { return static_cast<uint32_t>(qv_page_clock_seed()); }

WindowEvents WebSystem::ProcessEvents(std::optional<uint32_t> due) {
  WindowEvents events;
  // Input in the last turn: the loop gets a pass with the fresh keyboard before waiting.
  if (input_last_turn_) {
    input_last_turn_ = false;
  } else {
    uint32_t wait = kMaxWaitMs;
    if (due) {
      const auto until = static_cast<int32_t>(*due - TickCount());
      wait = static_cast<uint32_t>(std::clamp<int32_t>(until, 0, kMaxWaitMs));
    }
    input_last_turn_ = qv_page_wait(static_cast<int>(wait)) != 0;
  }
  events.timer_ticks = qv_page_take_timer_ticks();
  sound_.TakeEnds();
  transfer_.Check();
  return events;
}

void WebSystem::MessageBox(const std::string& text) {
  Tell("message", 0, text, "");
  qv_page_message(text.c_str());
}

void WebSystem::Terminate(int status) {
  Tell("exit", 0, "", std::to_string(status));
  qv_page_exit(status);
  // The page says the game has ended, and the game's turn never comes back: the program stops
  // here, with nothing thrown through the page.
  for (;;) qv_page_wait(0);
}

void MirrorToPage(SoundLog& log) {
  log.SetListener([](const LogEntry& e) { qv_page_log(FormatLogEntry(e).c_str()); });
}

void WebSystem::SetTimerEnabled(bool enabled) {
  qv_page_set_timer(enabled ? 1 : 0, static_cast<int>(kTimerPeriodMs));
  Tell("timer", 0, "Timer1", enabled ? "on" : "off");
}

}  // namespace qv
