// sound_tour.cpp -- the sound tour's stops and its player, which any key moves on.
#include "menu/sound_tour.h"

#include <array>

#include "core/window_events.h"
#include "input/keyboard.h"
#include "sound/players.h"

namespace qv {

namespace {

constexpr int kLeft = -10000;
constexpr int kRight = 10000;

constexpr std::array<TourItem, 24> kTour = {{
    {"tour/welcome.wav"},
    {"tour/menu_keys.wav"},
    {"tour/game_keys.wav"},
    {"tour/music_keys.wav"},
    {"tour/controller.wav"},
    {"tour/siren.wav", "siren.wav"},
    {"tour/launch_left.wav", "launch.wav", kLeft},
    {"tour/launch_centre.wav", "launch.wav"},
    {"tour/launch_right.wav", "launch.wav", kRight},
    {"tour/gun.wav", "gun.wav"},
    {"tour/hit.wav", "glass.wav"},
    {"tour/landing.wav", "land.wav"},
    {"tour/locked.wav", "locked.wav"},
    {"tour/magazine_empty.wav", "warning.wav"},
    {"tour/no_shot.wav", "empty.wav"},
    {"tour/reloaded.wav", "recharge.wav"},
    {"tour/bonus_round.wav"},
    {"tour/bonus_left.wav", "bonusFall.wav", kLeft},
    {"tour/bonus_centre.wav", "bonusFall.wav"},
    {"tour/bonus_right.wav", "bonusFall.wav", kRight},
    {"tour/bonus_hit.wav", "bonushit.wav"},
    {"tour/bonus_miss.wav", "bonusmiss.wav"},
    {"tour/bonus_landing.wav", "BonusLand.wav"},
    {"tour/end.wav"},
}};

bool AnyKeyDown(const Keyboard& keys) {
  for (int key = 0; key < 256; ++key) {
    if (KeyDown(keys, key)) return true;
  }
  return false;
}

enum class Outcome { Played, Skipped, Left };

// Waits until no key is held (the one that skipped the last stop), then plays the file at pan in
// a buffer of its own until it ends or a key goes down.
Outcome PlayUntilAKey(Menu& menu, const char* file, int pan) {
  Keyboard& keys = menu.keyboard;
  Sound& sound = menu.audio.sound;
  while (AnyKeyDown(keys)) {
    if (KeyDown(keys, kKeyEscape)) return Outcome::Left;
    DoEvents(menu.window);
    PollKeyboard(keys);
  }
  const BufferId buffer = sound.CreateBuffer(file);
  sound.SetPan(buffer, pan);
  sound.Play(buffer, kPlayOnce);
  Outcome outcome = Outcome::Played;
  while ((sound.GetStatus(buffer) & kStatusPlaying) != 0) {
    DoEvents(menu.window);
    PollKeyboard(keys);
    if (AnyKeyDown(keys)) {
      outcome = KeyDown(keys, kKeyEscape) ? Outcome::Left : Outcome::Skipped;
      break;
    }
  }
  sound.Stop(buffer);
  sound.Release(buffer);
  return outcome;
}

}  // namespace

std::span<const TourItem> SoundTourItems() { return kTour; }

Screen SoundTour(Menu& menu) {
  StopSound(menu.audio, menu.audio.bank.MenuMusic);
  for (const TourItem& item : kTour) {
    Outcome heard = PlayUntilAKey(menu, item.words, 0);
    if (heard == Outcome::Played && item.sound != nullptr) {
      heard = PlayUntilAKey(menu, item.sound, item.pan);
    }
    if (heard == Outcome::Left) break;
  }
  return Screen::MainMenu;
}

}  // namespace qv
