// program.h -- the running program: the platform it talks to and each layer's own object, built
// once per run (a fresh one per test) from the bottom up. There are no globals.
#pragma once

#include "core/random.h"
#include "core/window_events.h"
#include "game/game.h"
#include "input/keyboard.h"
#include "menu/main_menu.h"
#include "platform/platform.h"
#include "platform/sound_log.h"
#include "sound/audio.h"
#include "startup/replays.h"
#include "store/ini_store.h"
#include "store/settings.h"
#include "submit/submit_score.h"

namespace qv {

struct Program {
  // sound_log: where the store records its stores (the platform's own events reach the log as
  // one of the platform's observers); null when nothing is logged.
  Program(Platform parts, IniStore& settings_file, SoundLog* sound_log = nullptr)
      : platform(parts),
        window(parts.system),
        keyboard(parts.input),
        settings(settings_file, rng, sound_log),
        audio(parts.sound, window, keyboard, settings),
        game(window, keyboard, audio, settings, rng),
        sender{window, keyboard, audio, settings, parts.transfer},
        menu(window, keyboard, audio, settings, game, sender) {}
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  Platform platform;
  Random rng;          // core: the game's draws and the scrambling's key digits
  Window window;       // core: the window's turns and Timer1
  Keyboard keyboard;   // input
  Settings settings;   // store
  Audio audio;         // sound: the bank, the players, the music level
  Game game;           // game: the game record, the game and the bonus round
  ScoreSender sender;  // submit
  Menu menu;           // menu: the main menu's item, the difficulty, the tour

  // Every game and bonus round recorded, when the platform above is this recorder: each is
  // kept by keep_replay as it ends. Null: nothing is recorded.
  Recorder* recorder = nullptr;
  ReplayKeeper keep_replay;
  ReplayInProgress replay;
};

}  // namespace qv
