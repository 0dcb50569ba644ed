// system.cpp -- the window, the event pump that sleeps until something is due, Timer1, the
// message box and the end of the program, on SDL2.
#include <SDL.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/real/machine.h"
#include "platform/real/text_wrap.h"
#include "platform/scan_codes.h"

namespace qv {

namespace {

// The window shows nothing, the game being heard: it is there to hold the keyboard, small but
// large enough to find and click on.
constexpr int kWindowWidth = 312;
constexpr int kWindowHeight = 213;
// The longest a turn of the pump sleeps with nothing due: a loop that told it nothing still
// comes round once a second.
constexpr uint32_t kMaxWaitMs = 1000;
// While a transfer runs its sockets are not among what SDL waits for: the turn waits on them
// instead, in slices this long, looking at the window's events between slices.
constexpr int kTransferSliceMs = 50;
// Message box lines: about 60 characters keep the box well inside a 640-pixel screen.
constexpr size_t kMessageWidth = 60;

// Microseconds of the monotonic clock; the tick count is its milliseconds.
uint64_t MonotonicUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000;
}

// Runs on SDL's timer thread: it only posts an event, which ProcessEvents counts.
Uint32 PostTimerEvent(Uint32 interval, void* param) {
  SDL_Event event{};
  event.type = static_cast<Uint32>(reinterpret_cast<uintptr_t>(param));
  SDL_PushEvent(&event);
  return interval;
}

// While a message box is up the window system's own loop runs, and SDL's signal handling,
// which only queues a quit event, is never looked at: a logout or a kill must still end the
// program, with status 1 as after the error the box reports.
void EndOnSignal(int) { _exit(1); }

// SDL draws an X11 message box in a process it forks. Ended by a signal while the box is up,
// the game would leave that process behind, with the box and the dead window on screen and
// the keyboard taken. So while a box is up, every process forked from the game is made to be
// killed by the kernel the moment the game's process ends, however it ends (even by SIGKILL);
// nothing has to signal a process group, which may hold the player's shell. The game's pid
// while a box is up, else 0: a handler in the forked child reads it, hence one global.
std::atomic<pid_t> box_owner{0};

// Runs in every child forked from the game, before fork returns there: only system calls.
void DieWithTheGame() {
  const pid_t owner = box_owner.load();
  if (owner == 0) return;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != owner) _exit(1);  // the game ended before the line above took effect
}

// A message box is not read by every screen reader: when speech-dispatcher's spd-say is there,
// the text is spoken too, without waiting for it (the box waits for the player). It runs with
// the environment the game started with, not the one SDL was started in.
void SpeakAloud(const std::string& text, const std::vector<std::string>& environment) {
  // Everything the child needs is made before the fork: a child of a process with threads may
  // only make system calls.
  std::vector<char*> envp;
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  const char* const argv[] = {"spd-say", "--", text.c_str(), nullptr};
  const pid_t child = fork();
  if (child != 0) {
    if (child > 0) waitpid(child, nullptr, 0);  // the grandchild speaks on its own
    return;
  }
  if (fork() == 0) execvpe("spd-say", const_cast<char* const*>(argv), envp.data());
  _exit(0);  // spd-say is not installed, or it has been started
}

// The environment as it is now, as NAME=VALUE entries.
std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
  return entries;
}

// Waits, at the end of its scope, for the output that opens on a thread of its own.
struct OpeningDone {
  SdlSound& sound;
  ~OpeningDone() { sound.FinishOpening(); }
};

// The per-user bus of systemd's user session, which libdbus finds on its own without
// DBUS_SESSION_BUS_ADDRESS.
bool UserBusExists() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr && runtime[0] != '\0' &&
         access((std::string(runtime) + "/bus").c_str(), F_OK) == 0;
}

}  // namespace

SdlSystem::SdlSystem(SdlSound& sound, CurlTransfer& transfer)
    : sound_(sound), transfer_(transfer) {}

SdlSystem::~SdlSystem() { Close(); }

void SdlSystem::Close() {
  transfer_.Close();
  sound_.SetEndListener(nullptr);
  sound_.Close();
  if (timer_id_ != 0) SDL_RemoveTimer(timer_id_);
  timer_id_ = 0;
  if (window_ != nullptr) SDL_DestroyWindow(window_);
  window_ = nullptr;
  if (sdl_started_) SDL_Quit();
  sdl_started_ = false;
}

uint32_t SdlSystem::TickCount() { return static_cast<uint32_t>(MonotonicUs() / 1000); }

uint32_t SdlSystem::ClockSeed() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  // Microseconds of the time of day: two launches a few ms apart still get different seeds.
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000000u + ts.tv_nsec / 1000);
}

void SdlSystem::ShowWindow() {
  if (window_ != nullptr) return;
  // The window's one black fill would otherwise go through an OpenGL renderer, whose loading
  // costs tens of milliseconds before the first sound.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // A sound played once that ends wakes the pump at once, whenever it ends: the loop waiting
  // for it looks again straight away instead of at its next deadline. Set before the output
  // starts opening below.
  if (sound_end_event_ == 0) {
    const Uint32 type = SDL_RegisterEvents(1);
    if (type != static_cast<Uint32>(-1)) {
      sound_end_event_ = type;
      sound_.SetEndListener([type] {
        SDL_Event event{};
        event.type = type;
        SDL_PushEvent(&event);
      });
    }
  }
  // Two variables are set for SDL's start, here, before the first thread of the game starts:
  // changing the environment while another thread may read it is a race. They stay set; the
  // programs the game starts (spd-say) get the environment as it was before.
  child_environment_ = CurrentEnvironment();
  // The game reads keys, never text, yet SDL opens an X input method, and libX11's own one
  // parses the locale's whole Compose table (5,700 lines for UTF-8 locales), about 8 ms of
  // every start: an empty table.
  setenv("XCOMPOSEFILE", "/dev/null", 1);
  // Without a session bus, SDL's input-method look-up makes libdbus fork and run dbus-launch
  // to start one, which lives on after the game and gives it nothing (no input method or
  // screen saver is there to answer). Where none is, SDL is told so.
  if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr && !UserBusExists()) {
    setenv("DBUS_SESSION_BUS_ADDRESS", "none:", 1);
  }
  // The sound server answers while SDL starts.
  sound_.StartOpening();
  const OpeningDone opened{sound_};
  // Only what the window needs (its events with it): Timer1 starts SDL's timer when the
  // submission first needs it.
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    throw PlatformError(std::string("Cannot open the game window: ") + SDL_GetError());
  }
  sdl_started_ = true;
  // Without a display SDL falls back to a driver that draws nowhere and never has the keyboard:
  // the game would talk on with no way to answer it. Better to say so and stop.
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver != nullptr &&
      (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) {
    throw PlatformError(
        "Cannot open the game window: no display to show it on (is DISPLAY or "
        "WAYLAND_DISPLAY set?); the game needs a window to read the keyboard.");
  }
  window_ = SDL_CreateWindow("Quor Vane", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                             kWindowWidth, kWindowHeight, SDL_WINDOW_SHOWN);
  if (window_ == nullptr) {
    throw PlatformError(std::string("Cannot open the game window: ") + SDL_GetError());
  }
  // An input method would swallow key presses meant for the keyboard array.
  SDL_StopTextInput();
  if (SDL_Surface* surface = SDL_GetWindowSurface(window_)) {
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
    SDL_UpdateWindowSurface(window_);
  }
  SDL_RaiseWindow(window_);
}

uint64_t SdlSystem::WakeTime(std::optional<uint32_t> due) {
  const uint64_t now = MonotonicUs();
  uint64_t wake = now + uint64_t{kMaxWaitMs} * 1000;
  if (due) {
    // The tick count is this clock's milliseconds: `due` is reached at the start of its
    // millisecond, which may lie less than a whole millisecond ahead.
    const uint64_t now_ms = now / 1000;
    const auto until = static_cast<int32_t>(*due - static_cast<uint32_t>(now_ms));
    if (until <= 0) return now;
    wake = std::min(wake, (now_ms + static_cast<uint64_t>(until)) * 1000);
  }
  // A sound's end posts an event that ends the turn at once; should that wake-up be lost in
  // the window system, the turn still ends a period after the sound is due to end.
  if (std::optional<uint32_t> end = sound_.MsToNextEnd()) {
    wake = std::min(wake, now + uint64_t{*end} * 1000);
  }
  return wake;
}

bool SdlSystem::Deliver(const SDL_Event& event, WindowEvents& events) {
  switch (event.type) {
    case SDL_QUIT:
      events.close_requested = true;
      return true;
    case SDL_WINDOWEVENT:
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
        events.close_requested = true;
        return true;
      }
      if (event.window.event == SDL_WINDOWEVENT_FOCUS_GAINED ||
          event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
        input_last_turn_ = true;
        return true;
      }
      return false;
    case SDL_KEYDOWN:
      // A repeat changes nothing the keyboard read shows.
      if (event.key.repeat != 0) return false;
      input_last_turn_ = true;
      if (const int code = event.key.keysym.scancode;
          code >= 0 && code < static_cast<int>(pressed_this_turn_.size())) {
        pressed_this_turn_[static_cast<size_t>(code)] = true;
      }
      return true;
    case SDL_KEYUP:
      input_last_turn_ = true;
      return true;
    case SDL_CONTROLLERDEVICEADDED:
    case SDL_CONTROLLERDEVICEREMOVED:
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
      return DeliverController(event);
    default:
      if (sound_end_event_ != 0 && event.type == sound_end_event_) return true;
      // A tick that was already queued when the timer went off does not count.
      if (timer_event_ != 0 && event.type == timer_event_ && timer_id_ != 0) {
        ++events.timer_ticks;
        return true;
      }
      return false;
  }
}

WindowEvents SdlSystem::ProcessEvents(std::optional<uint32_t> due) {
  WindowEvents events;
  if (!sdl_started_) {
    // No window yet: nothing can arrive, so a turn just waits for what is due.
    const uint64_t wake = WakeTime(due);
    if (const uint64_t now = MonotonicUs(); wake > now) {
      const uint64_t us = wake - now;
      timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
      nanosleep(&ts, nullptr);
    }
    transfer_.Drive();
    return events;
  }
  sound_.KeepDevice();
  // Input in the last turn: the loop must get a pass with the fresh keyboard before sleeping.
  const uint64_t wake = input_last_turn_ ? 0 : WakeTime(due);
  pressed_this_turn_.fill(false);
  input_last_turn_ = false;
  // Events the game does not read (the mouse, exposure, the clipboard) do not end the turn,
  // and neither does SDL's own wait coming back a little early (it counts in milliseconds
  // of its own): the turn ends at the wake time or with something the loop must see.
  for (;;) {
    const uint64_t now = MonotonicUs();
    const uint64_t left_us = wake > now ? wake - now : 0;
    // SDL waits in whole milliseconds and may add one: it sleeps the whole ones, and the last
    // part of a millisecond is slept to the microsecond before the events are looked at.
    const auto wait_ms = static_cast<int>(left_us / 1000);
    SDL_Event event;
    bool delivered = false;
    int got = 0;
    if (wait_ms > 0 && transfer_.Running()) {
      transfer_.WaitForActivity(std::min(wait_ms, kTransferSliceMs));
      transfer_.Drive();
      delivered = !transfer_.Running();  // its end is news for the loop
      got = SDL_PollEvent(&event);
    } else if (wait_ms > 0) {
      got = SDL_WaitEventTimeout(&event, wait_ms);
    } else {
      if (left_us > 0) {
        timespec ts{0, static_cast<long>(left_us) * 1000};
        nanosleep(&ts, nullptr);
      }
      got = SDL_PollEvent(&event);
    }
    while (got != 0) {
      delivered |= Deliver(event, events);
      got = SDL_PollEvent(&event);
    }
    if (delivered || left_us == 0 || MonotonicUs() >= wake) break;
  }
  transfer_.Drive();
  return events;
}

void SdlSystem::MessageBox(const std::string& text) {
  Tell("message", 0, text, "");
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  SpeakAloud(text, child_environment_.empty() ? CurrentEnvironment() : child_environment_);
  struct sigaction end_now {
  }, old_term{}, old_int{};
  end_now.sa_handler = EndOnSignal;
  sigaction(SIGTERM, &end_now, &old_term);
  sigaction(SIGINT, &end_now, &old_int);
  static const int watching_forks = pthread_atfork(nullptr, nullptr, DieWithTheGame);
  box_owner = watching_forks == 0 ? getpid() : 0;
  // SDL shows a box even before SDL_Init when a display is there; without one, stderr is all.
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, "QuorVane",
                           WrapText(text, kMessageWidth).c_str(), window_);
  box_owner = 0;
  // A box the game plays on after (the settings file's) hands the signals back to SDL.
  sigaction(SIGTERM, &old_term, nullptr);
  sigaction(SIGINT, &old_int, nullptr);
}

void SdlSystem::Terminate(int status) {
  Tell("exit", 0, "", std::to_string(status));
  Close();
  std::fflush(nullptr);
  std::exit(status);
}

void SdlSystem::SetTimerEnabled(bool enabled) {
  if (!enabled && timer_id_ != 0) {
    SDL_RemoveTimer(timer_id_);
    timer_id_ = 0;
  }
  if (enabled && timer_id_ == 0) {
    if (SDL_WasInit(SDL_INIT_TIMER) == 0) {
      if (SDL_InitSubSystem(SDL_INIT_TIMER | SDL_INIT_EVENTS) != 0) {
        throw PlatformError(std::string("Cannot start the timer: ") + SDL_GetError());
      }
      sdl_started_ = true;
    }
    if (timer_event_ == 0) {
      const Uint32 type = SDL_RegisterEvents(1);
      if (type == static_cast<Uint32>(-1)) throw PlatformError("Cannot start the timer");
      timer_event_ = type;
    }
    timer_id_ = SDL_AddTimer(kTimerPeriodMs, PostTimerEvent,
                             reinterpret_cast<void*>(static_cast<uintptr_t>(timer_event_)));
    if (timer_id_ == 0) {
      throw PlatformError(std::string("Cannot start the timer: ") + SDL_GetError());
    }
  }
  Tell("timer", 0, "Timer1", enabled ? "on" : "off");
}

bool SdlSystem::HasFocus() const { return window_ != nullptr && SDL_GetKeyboardFocus() == window_; }

}  // namespace qv
