// level_end.cpp -- counting targets, the level end with the high score and the extra life,
// the win, the game over and the final score.
#include <string>

#include "core/program.h"
#include "game/shooting_game.h"
#include "sound/players.h"
#include "sound/spoken_numbers.h"
#include "store/settings.h"

namespace qv {

namespace {

void Say(Program& pg, const char* file) { PlaySound(pg, file, true); }

}  // namespace

void CountTarget(Program& pg) {
  GameState& g = pg.game;
  // The count runs on through the game: level 1 ends with its 32nd target, later ones with
  // their 31st.
  if (g.TargetCount > g.Level * 30) {
    EndLevel(pg);
  } else {
    ++g.TargetCount;
  }
}

void EndLevel(Program& pg) {
  GameState& g = pg.game;
  // The first time in a game that the score passes the high score, it is marked.
  if (g.Score > g.HighScore && !g.NewHighScore) {
    g.NewHighScore = true;
    if (g.HighScore != 0) Say(pg, "highscore.wav");
  }
  if (g.PerfectLevel) AwardExtraLife(pg);
  Say(pg, "clear.wav");
  SpeakNumber(pg, g.Score);
  Say(pg, "points.wav");
  // The score just heard, the reward included, when it is above the high score: stored with
  // its difficulty and marked unsent, so that it can be sent, also after a restart.
  SaveSettings(pg);
  g.PerfectLevel = true;
  if (g.Level < 6) {
    ++g.Level;
    g.WaitLimit -= 200;
    g.FlightLimit -= 200;
    if (g.Level < 4) {
      pg.sound.Stop(pg.bank.Music[1]);
      pg.sound.Play(pg.bank.Music[0], kPlayLooping);
    } else {
      pg.sound.Stop(pg.bank.Music[0]);
      pg.sound.Play(pg.bank.Music[1], kPlayLooping);
    }
  } else {
    WinGame(pg);
    g.GameFinished = true;
  }
}

void AwardExtraLife(Program& pg) {
  ++pg.game.Lives;
  Say(pg, "el.wav");
  pg.game.Score += 10000;
}

void WinGame(Program& pg) {
  GameState& g = pg.game;
  pg.sound.Stop(pg.bank.Music[0]);
  pg.sound.Stop(pg.bank.Music[1]);
  Say(pg, "win.wav");
  using namespace settings;
  StoreSetting(pg, kBonusApp, kBonusSection, kBonusKey, "7");
  g.Score += g.Lives * 2000;
  StopGameSounds(pg);
  SaveSettings(pg);
  AnnounceFinalScore(pg);
}

void GameOver(Program& pg) {
  StopGameSounds(pg);
  SaveSettings(pg);
  Say(pg, "gameover.wav");
  AnnounceFinalScore(pg);
}

void AnnounceFinalScore(Program& pg) {
  Say(pg, "final.wav");
  SpeakNumber(pg, pg.game.Score);
  Say(pg, "points.wav");
  pg.game.GameFinished = true;
}

}  // namespace qv
