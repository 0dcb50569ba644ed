// main.cpp -- the real program: the game on SDL2 (window, keyboard, audio output) and libcurl,
// with the settings file in the player's configuration folder and the sound log written to
// $QUORVANE_SOUND_LOG when that is set.
#include <cstdio>
#include <cstdlib>

#include "core/program.h"
#include "platform/logged.h"
#include "platform/paths.h"
#include "platform/sdl_openal/machine.h"
#include "platform/sound_log.h"
#include "startup/startup.h"
#include "store/ini_store.h"

int main() {
  qv::RealPlatform real(qv::FindSoundsDir());
  qv::IniStore settings(qv::DefaultSettingsPath());
  const char* log_path = std::getenv("QUORVANE_SOUND_LOG");
  if (log_path == nullptr || log_path[0] == '\0') {
    qv::Program pg(real.Parts(), settings);
    qv::Main(pg);
  }
  std::FILE* log_file = std::fopen(log_path, "w");
  if (log_file == nullptr) {
    std::fprintf(stderr, "QuorVane: cannot write the sound log %s\n", log_path);
    return 1;
  }
  qv::SoundLog log(log_file);
  log.KeepEntries(false);
  qv::LoggedPlatform logged(real.Parts(), log, /*log_keys=*/true);
  qv::Program pg(logged.Parts(), settings, &log);
  qv::Main(pg);
}
