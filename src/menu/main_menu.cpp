// main_menu.cpp -- the main menu: four spoken items over looping music, and its direct keys.
#include "menu/main_menu.h"

#include <cmath>
#include <string>

#include "core/window_events.h"
#include "input/keyboard.h"
#include "sound/music_volume.h"
#include "sound/players.h"
#include "sound/spoken_numbers.h"
#include "store/high_score.h"
#include "store/settings.h"

namespace qv {

namespace {

constexpr int kSilenced = -10000;  // the music out of the way of the speaker check

// Plays a centred file to its end with the menu music at `music_volume`, then restores it.
void SayOver(Audio& audio, const char* file, int music_volume) {
  SetMenuMusicVolume(audio, music_volume);
  PlaySound(audio, file, true);
  SetMenuMusicVolume(audio, 0);
}

// Space and C together: the high score is cleared, in the store and in memory.
void ClearStoredHighScore(Menu& menu) {
  SetMenuMusicVolume(menu.audio, kDucked);
  ClearHighScore(menu.settings);
  PlaySound(menu.audio, "clear.wav", true);
  SetMenuMusicVolume(menu.audio, 0);
}

// The bonus round opens once a game has been won: "ba" holds 7. Anything else, or a value
// that is not a number, reads as locked.
bool BonusRoundOpen(Settings& settings) {
  using namespace setting_names;
  double ba = 0;
  if (!ParseNumber(ReadSetting(settings, kBonusApp, kBonusSection, kBonusKey, "0"), &ba)) {
    return false;
  }
  return std::nearbyint(ba) == 7;
}

// The send-score item: only a high score that has not been sent yet, and whose stored score
// reads back as one; a sent one comes back to a fresh menu (true), a failed one to this loop,
// with the music stopped until the menu is entered again.
bool SendHighScore(Menu& menu) {
  Settings& settings = menu.settings;
  if (settings.HighScore <= 0 || settings.ScoreSent || !IsSendable(ReadStoredHighScore(settings))) {
    SayOver(menu.audio, "warning.wav", kDucked);
    return false;
  }
  menu.audio.sound.Stop(menu.audio.bank.MenuMusic);
  return SubmitScore(menu.sender);
}

}  // namespace

void AnnounceMenuItem(Menu& menu, uint8_t item) {
  static const char* const kItems[] = {"startgame.wav", "calSpeakers.wav", "sendscore.wav",
                                       "exit.wav"};
  SetMenuMusicVolume(menu.audio, kDucked);
  PlayAndWait(menu.audio, kItems[item & 3]);
  SetMenuMusicVolume(menu.audio, 0);
}

Screen MainMenu(Menu& menu) {
  Audio& audio = menu.audio;
  Keyboard& keys = menu.keyboard;
  menu.MenuItem = 0;
  audio.sound.SetCurrentPosition(audio.bank.MenuMusic, 0);
  audio.sound.Play(audio.bank.MenuMusic, kPlayLooping);
  PlayAndWait(audio, "menuprompt.wav");  // not ducked: the music is the prompt's bed
  for (;;) {
    PollKeyboard(keys);
    DoEvents(menu.window);
    HandleMusicKeys(audio);
    if (KeyPressed(keys, kKeySpace) && KeyPressed(keys, kKeyC)) ClearStoredHighScore(menu);
    if (KeyPressed(keys, kKeyUp)) {
      menu.MenuItem = menu.MenuItem == 0 ? 3 : menu.MenuItem - 1;
      AnnounceMenuItem(menu, menu.MenuItem);
    }
    if (KeyPressed(keys, kKeyDown)) {
      menu.MenuItem = menu.MenuItem == 3 ? 0 : menu.MenuItem + 1;
      AnnounceMenuItem(menu, menu.MenuItem);
    }
    if (KeyPressed(keys, kKeyReturn)) {
      switch (menu.MenuItem) {
        case 0:
          return Screen::NewGame;
        case 1:
          SayOver(audio, "cal.wav", kSilenced);
          break;
        case 2:
          if (SendHighScore(menu)) return Screen::MainMenu;
          break;
        default:
          StopAndRelease(audio, audio.bank.MenuMusic);
          return Screen::Exit;
      }
    }
    if (TakeKeyPress(keys, kKeyEscape)) {
      StopAndRelease(audio, audio.bank.MenuMusic);
      return Screen::Exit;
    }
    if (TakeKeyPress(keys, kKeyH)) {
      PlaySound(audio, "highscoreis.wav", true);
      SpeakNumber(audio, menu.settings.HighScore);
      PlaySound(audio, "points.wav", true);
    }
    if (TakeKeyPress(keys, kKeyB) && BonusRoundOpen(menu.settings)) return Screen::BonusRound;
    if (TakeKeyPress(keys, kKeyF1)) return Screen::SoundTour;
  }
}

}  // namespace qv
