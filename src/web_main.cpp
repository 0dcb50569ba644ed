// web_main.cpp -- the game in the browser: the same program on the web backend, with the
// settings file in the page's own storage (mirrored into the browser's file system by the page
// before the game starts) and the sound log sent to the page.
#include "platform/sound_log.h"
#include "platform/web/web_platform.h"
#include "startup/program.h"
#include "startup/startup.h"
#include "store/ini_store.h"

int main() {
  qv::WebPlatform web;
  qv::IniStore settings(qv::DefaultSettingsPath());
  qv::SoundLog log;
  log.KeepEntries(false);
  qv::MirrorToPage(log);
  log.Follow(web.Parts());
  qv::Program pg(web.Parts(), settings, &log);
  qv::Main(pg);
}
