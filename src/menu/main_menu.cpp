// main_menu.cpp -- the main menu: four spoken items over looping music, and its direct keys.
#include "menu/main_menu.h"

#include <cmath>
#include <string>

#include "core/program.h"
#include "core/window_events.h"
#include "game/shooting_game.h"
#include "input/keyboard.h"
#include "sound/music_volume.h"
#include "sound/players.h"
#include "store/high_score.h"
#include "store/settings.h"
#include "submit/submit_score.h"

namespace qv {

namespace {

constexpr int kSilenced = -10000;  // the music out of the way of the speaker check

// Plays a centred file to its end with the menu music at `music_volume`, then restores it.
void SayOver(Program& pg, const char* file, int music_volume) {
  SetMenuMusicVolume(pg, music_volume);
  PlaySound(pg, file, true);
  SetMenuMusicVolume(pg, 0);
}

// Space and C together: the high score is cleared, in the store and in memory.
void ClearStoredHighScore(Program& pg) {
  SetMenuMusicVolume(pg, kDucked);
  ClearHighScore(pg);
  PlaySound(pg, "clear.wav", true);
  SetMenuMusicVolume(pg, 0);
}

// The bonus round opens once a game has been won: "ba" holds 7. Anything else, or a value
// that is not a number, reads as locked.
bool BonusRoundOpen(Program& pg) {
  using namespace settings;
  double ba = 0;
  if (!ParseNumber(ReadSetting(pg, kBonusApp, kBonusSection, kBonusKey, "0"), &ba)) return false;
  return std::nearbyint(ba) == 7;
}

}  // namespace

void AnnounceMenuItem(Program& pg, uint8_t item) {
  static const char* const kItems[] = {"startgame.wav", "calSpeakers.wav", "sendscore.wav",
                                       "exit.wav"};
  SetMenuMusicVolume(pg, kDucked);
  PlayAndWait(pg, kItems[item & 3]);
  SetMenuMusicVolume(pg, 0);
}

Screen MainMenu(Program& pg) {
  pg.MenuItem = 0;
  pg.sound.SetCurrentPosition(pg.bank.MenuMusic, 0);
  pg.sound.Play(pg.bank.MenuMusic, kPlayLooping);
  PlayAndWait(pg, "menuprompt.wav");  // not ducked: the music is the prompt's bed
  for (;;) {
    PollKeyboard(pg);
    DoEvents(pg);
    HandleMusicKeys(pg);
    if (KeyPressed(pg, kKeySpace) && KeyPressed(pg, kKeyC)) ClearStoredHighScore(pg);
    if (KeyPressed(pg, kKeyUp)) {
      pg.MenuItem = pg.MenuItem == 0 ? 3 : pg.MenuItem - 1;
      AnnounceMenuItem(pg, pg.MenuItem);
    }
    if (KeyPressed(pg, kKeyDown)) {
      pg.MenuItem = pg.MenuItem == 3 ? 0 : pg.MenuItem + 1;
      AnnounceMenuItem(pg, pg.MenuItem);
    }
    if (KeyPressed(pg, kKeyReturn)) {
      switch (pg.MenuItem) {
        case 0:
          return Screen::NewGame;
        case 1:
          SayOver(pg, "cal.wav", kSilenced);
          break;
        case 2:
          // Only a high score that has not been sent yet, and whose stored score reads back
          // as one; a sent one comes back to a fresh menu, a failed one to this loop, with
          // the music stopped until the menu is entered again.
          if (pg.game.HighScore > 0 && !pg.game.ScoreSent && IsSendable(ReadStoredHighScore(pg))) {
            pg.sound.Stop(pg.bank.MenuMusic);
            if (SubmitScore(pg)) return Screen::MainMenu;
          } else {
            SayOver(pg, "warning.wav", kDucked);
          }
          break;
        default:
          StopAndRelease(pg, pg.bank.MenuMusic);
          return Screen::Exit;
      }
    }
    if (KeyPressed(pg, kKeyEscape)) {
      pg.keyboard.KeyLatch[kKeyEscape] = true;
      StopAndRelease(pg, pg.bank.MenuMusic);
      return Screen::Exit;
    }
    if (KeyPressed(pg, kKeyH)) {
      pg.keyboard.KeyLatch[kKeyH] = true;
      PlaySound(pg, "highscoreis.wav", true);
      SpeakNumber(pg, pg.game.HighScore);
      PlaySound(pg, "points.wav", true);
    }
    if (KeyPressed(pg, kKeyB)) {
      pg.keyboard.KeyLatch[kKeyB] = true;
      if (BonusRoundOpen(pg)) return Screen::BonusRound;
    }
    if (KeyPressed(pg, kKeyF1)) {
      pg.keyboard.KeyLatch[kKeyF1] = true;
      return Screen::SoundTour;
    }
  }
}

}  // namespace qv
