// web_main.cpp -- the game in the browser: the same program on the web backend, with the
// settings file in the page's own storage (mirrored into the browser's file system by the page
// before the game starts), every game recorded as natively (the best one kept, and sent after a
// score), and the sound log sent to the page.
#include "platform/replay/recorder.h"
#include "platform/sound_log.h"
#include "platform/web/web_platform.h"
#include "startup/program.h"
#include "startup/startup.h"
#include "store/ini_store.h"
#include "store/replay_archive.h"

int main() {
  qv::WebPlatform web;
  qv::IniStore settings(qv::DefaultSettingsPath());
  qv::ReplayArchive replays(qv::DefaultReplayFolder());
  qv::SoundLog log;
  log.KeepEntries(false);
  qv::MirrorToPage(log);
  log.Follow(web.Parts());
  // The page holds its sounds decoded, not as wave files: the recorder tells what plays as a
  // recording begins without each sound's place in it.
  qv::Recorder recorder(web.Parts(), "");
  qv::Program pg(recorder.Parts(), settings, &log);
  pg.recorder = &recorder;
  pg.keep_replay = [&](const std::string& bytes, const qv::ReplayOutcome&, bool best) {
    replays.Keep(bytes, best);
  };
  pg.sender.replays = &replays;
  qv::Main(pg);
}
