// main.cpp -- the real program: the game on SDL2 (window, keyboard, audio output) and libcurl,
// with the settings file in the player's configuration folder, every game recorded into the
// player's replays, and the sound log written to $QUORVANE_SOUND_LOG when that is set. With
// --replay FILE it plays a recorded game back instead, heard as it was played.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "platform/paths.h"
#include "platform/real/machine.h"
#include "platform/replay/mirror.h"
#include "platform/replay/recorder.h"
#include "platform/replay/replay_platform.h"
#include "platform/sound_log.h"
#include "startup/program.h"
#include "startup/replays.h"
#include "startup/startup.h"
#include "store/ini_store.h"
#include "store/replay_archive.h"

namespace {

constexpr const char* kUsage =
    "Usage: quorvane [--replay FILE | --version | --help]\n"
    "\n"
    "QuorVane, an arcade shooting game played by ear. Started without options it\n"
    "opens its window and speaks; the keys are in quorvane(6) and the README.\n"
    "--replay FILE plays a recorded game back, heard as it was played (the game keeps\n"
    "its best game and its last ten in ~/.local/share/quorvane/replays/); closing the\n"
    "window ends it.\n";

// The sound log named by $QUORVANE_SOUND_LOG, or none. Exits when it cannot be written.
std::unique_ptr<qv::SoundLog> OpenSoundLog() {
  const char* path = std::getenv("QUORVANE_SOUND_LOG");
  if (path == nullptr || path[0] == '\0') return nullptr;
  std::FILE* file = std::fopen(path, "w");
  if (file == nullptr) {
    std::fprintf(stderr, "QuorVane: cannot write the sound log %s\n", path);
    std::exit(1);
  }
  auto log = std::make_unique<qv::SoundLog>(file);
  log->KeepEntries(false);
  return log;
}

// The game, every game and bonus round recorded.
[[noreturn]] void Play() {
  const std::string sounds = qv::FindSoundsDir();
  qv::RealPlatform real(sounds);
  qv::IniStore settings(qv::DefaultSettingsPath());
  qv::ReplayArchive replays(qv::DefaultReplayFolder());
  // The recorder first, so that it reads the time of each call the moment the log does.
  qv::Recorder recorder(real.Parts(), sounds);
  std::unique_ptr<qv::SoundLog> log = OpenSoundLog();
  if (log) log->Follow(real.Parts());
  qv::Program pg(recorder.Parts(), settings, log.get());
  pg.recorder = &recorder;
  pg.keep_replay = [&](const std::string& bytes, const qv::ReplayOutcome&, bool best) {
    replays.Keep(bytes, best);
  };
  pg.sender.replays = &replays;
  qv::Main(pg);
}

// A recorded game played back on the real machine: the recording's clock, keys and answers
// drive the game's own code, at the pace of real time, and its sounds go to the sound device.
[[noreturn]] void PlayBack(const std::string& path) {
  const std::string sounds = qv::FindSoundsDir();
  qv::RealPlatform real(sounds);
  qv::System& system = real.system;
  auto refuse = [&](const std::string& why) {
    system.MessageBox("This replay cannot be played. " + why);
    system.Terminate(1);
  };
  std::ifstream in(path, std::ios::binary);
  if (!in) refuse("Cannot read " + path + ": " + std::strerror(errno) + ".");
  std::stringstream bytes;
  bytes << in.rdbuf();
  std::optional<qv::Replay> replay;
  try {
    replay = qv::DecodeReplay(bytes.str(), QV_VERSION);
  } catch (const qv::ReplayError& e) {
    refuse(e.what());
  }
  try {
    system.ShowWindow();
    if (!real.sound.OpenSoundDevice()) {
      system.MessageBox(qv::kSoundDriverMessage);
      system.Terminate(1);
    }
    qv::ReplayPlatform machine(*replay, {sounds});
    std::unique_ptr<qv::SoundLog> log = OpenSoundLog();
    if (log) log->Follow(machine.Parts(), [&] { return machine.Now() - replay->start_ms; });
    qv::Mirror mirror(real.sound, sounds);
    mirror.Stage(replay->stage);
    machine.Parts().Watch(mirror);
    // Each turn of the recording ends when, counted from the start, the recorded one did.
    const uint32_t start = system.TickCount();
    machine.SetTurnEndHook([&] {
      const uint32_t due = start + (machine.Now() - replay->start_ms);
      while (static_cast<int32_t>(due - system.TickCount()) > 0) {
        if (system.ProcessEvents(due).close_requested) system.Terminate(0);
      }
    });
    qv::RunReplay(*replay, machine, log.get());
    machine.Parts().Unwatch(mirror);
  } catch (const qv::ReplayRefused& e) {
    refuse(e.reason);
  } catch (const std::exception& e) {
    system.MessageBox(e.what());
    system.Terminate(1);
  }
  system.Terminate(0);
  std::abort();  // Terminate never returns
}

}  // namespace

// Started from a menu, the game takes no command line; besides the two questions every
// installed program answers, it takes a replay to play back.
int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("quorvane %s\n", QV_VERSION);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--replay") == 0) PlayBack(argv[2]);
  if (argc > 1) {
    std::fprintf(stderr, "quorvane: unknown argument %s\n%s", argv[1], kUsage);
    return 2;
  }
  Play();
}
