// main.cpp -- the real program: the game on SDL2 (window, keyboard, audio output) and libcurl,
// with the settings file in the player's configuration folder and the sound log written to
// $QUORVANE_SOUND_LOG when that is set.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/paths.h"
#include "platform/real/machine.h"
#include "platform/sound_log.h"
#include "startup/program.h"
#include "startup/startup.h"
#include "store/ini_store.h"

namespace {

constexpr const char* kUsage =
    "Usage: quorvane [--version | --help]\n"
    "\n"
    "QuorVane, an arcade shooting game played by ear. Started without options it\n"
    "opens its window and speaks; the keys are in quorvane(6) and the README.\n";

}  // namespace

// The game is started from a menu and takes no command line, apart from the two questions
// every installed program answers.
int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("quorvane %s\n", QV_VERSION);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc > 1) {
    std::fprintf(stderr, "quorvane: unknown argument %s\n%s", argv[1], kUsage);
    return 2;
  }
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
  log.Follow(real.Parts());
  qv::Program pg(real.Parts(), settings, &log);
  qv::Main(pg);
}
