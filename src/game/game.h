// game.h -- the game layer's own object: the game record, with what a game uses below it (the
// window's clock and turns, the keyboard, the sound layer, the store and the random generator).
#pragma once

#include "core/random.h"
#include "core/window_events.h"
#include "game/game_state.h"
#include "input/keyboard.h"
#include "sound/audio.h"
#include "store/settings.h"

namespace qv {

struct Game {
  Game(Window& game_window, Keyboard& keys, Audio& sounds, Settings& store, Random& random)
      : window(game_window), keyboard(keys), audio(sounds), settings(store), rng(random) {}

  Window& window;
  Keyboard& keyboard;
  Audio& audio;
  Settings& settings;
  Random& rng;

  GameState state;
};

}  // namespace qv
