// level_end.cpp -- counting targets, the level end with the high score and the extra life,
// the win, the game over and the final score.
#include <cstdint>
#include <string>

#include "core/program.h"
#include "game/shooting_game.h"
#include "sound/players.h"
#include "sound/spoken_numbers.h"
#include "store/settings.h"

namespace qv {

namespace {

void Say(Program& pg, const char* file) { PlaySound(pg, file, true); }

constexpr int32_t kPerfectLevelReward = 10000;
constexpr int32_t kWinRewardPerLife = 2000;

// The score this level end stores: the perfect level's reward counted and, after the last
// level, the win's reward for each life, the extra life included.
int32_t ScoreToStore(const GameState& g) {
  int32_t score = g.Score + (g.PerfectLevel ? kPerfectLevelReward : 0);
  if (g.Level >= 6) score += (g.Lives + (g.PerfectLevel ? 1 : 0)) * kWinRewardPerLife;
  return score;
}

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
  // The first time in a game that the score to be stored passes the high score, it is marked,
  // so that no high score is ever stored without the player hearing of it.
  if (ScoreToStore(g) > g.HighScore && !g.NewHighScore) {
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
  pg.game.Score += kPerfectLevelReward;
}

void WinGame(Program& pg) {
  GameState& g = pg.game;
  pg.sound.Stop(pg.bank.Music[0]);
  pg.sound.Stop(pg.bank.Music[1]);
  // The win is stored before "win.wav": a window closed during its long fanfare must not lose
  // the unlocked bonus round or the final score.
  using namespace settings;
  StoreSetting(pg, kBonusApp, kBonusSection, kBonusKey, "7");
  g.Score += g.Lives * kWinRewardPerLife;
  StopGameSounds(pg);
  SaveSettings(pg);
  Say(pg, "win.wav");
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
