// level_end.cpp -- counting targets, the level end with the high score and the extra life,
// the win, the game over and the final score.
#include <string>

#include "core/program.h"
#include "game/shooting_game.h"
#include "sound/players.h"
#include "sound/spoken_numbers.h"
#include "store/scramble.h"
#include "store/settings.h"

namespace qv {

namespace {

void Say(Program& pg, const char* file) { PlaySound(pg, file, 0, true); }

void StoreHighScore(Program& pg) {
  using namespace settings;
  StoreSetting(pg, kHighScoreApp, kHighScoreSection, kHighScoreKey,
               Scramble(pg, std::to_string(pg.game.Score)));
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
  if (g.Score > g.HighScore && !g.NewHighScore) {
    const bool first_ever = g.HighScore == 0;
    g.NewHighScore = true;
    g.HighScore = g.Score;
    StoreHighScore(pg);
    if (!first_ever) Say(pg, "highscore.wav");
    // The new high score has not been sent; the stored marker says so too, so it can be sent
    // after a restart.
    g.ScoreSent = false;
    using namespace settings;
    StoreSetting(pg, kScoreSentApp, kScoreSentSection, kScoreSentKey, "0");
  }
  if (g.PerfectLevel) AwardExtraLife(pg);
  Say(pg, "clear.wav");
  SpeakNumber(pg, g.Score);
  Say(pg, "points.wav");
  if (g.NewHighScore) {
    g.HighScore = g.Score;
    StoreHighScore(pg);
  }
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
  SaveSettings(pg);
  AnnounceFinalScore(pg);
}

void GameOver(Program& pg) {
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
