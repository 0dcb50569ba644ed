// main.cpp -- the real program: the game on SDL2, OpenAL Soft and libcurl, with the sound log
// written to $QUORVANE_SOUND_LOG when that is set.
#include <cstdio>
#include <cstdlib>

#include "platform/ini_store.h"
#include "platform/logged_platform.h"
#include "platform/paths.h"
#include "platform/sdl_openal/real_platform.h"
#include "platform/sound_log.h"
#include "startup/startup.h"

int main() {
  qv::RealPlatform real(qv::FindSoundsDir(), qv::DefaultSettingsPath());
  const char* log_path = std::getenv("QUORVANE_SOUND_LOG");
  if (log_path == nullptr || log_path[0] == '\0') qv::Main(real);
  std::FILE* log_file = std::fopen(log_path, "w");
  if (log_file == nullptr) {
    std::fprintf(stderr, "QuorVane: cannot write the sound log %s\n", log_path);
    return 1;
  }
  qv::SoundLog log(log_file);
  log.KeepEntries(false);
  qv::LoggedPlatform logged(real, log);
  qv::Main(logged);
}
