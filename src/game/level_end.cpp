// level_end.cpp -- counting targets, the level end with the high score and the extra life,
// the win, the game over and the final score.
#include <cstdint>
#include <string>

#include "game/shooting_game.h"
#include "sound/music_volume.h"
#include "sound/players.h"
#include "sound/spoken_numbers.h"
#include "store/high_score.h"
#include "store/settings.h"

namespace qv {

namespace {

void Say(Game& game, const char* file) { PlaySound(game.audio, file, true); }

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

void CountTarget(Game& game) {
  GameState& g = game.state;
  // The count runs on through the game: level 1 ends with its 32nd target, later ones with
  // their 31st.
  if (g.TargetCount > g.Level * 30) {
    EndLevel(game);
  } else {
    ++g.TargetCount;
  }
}

void EndLevel(Game& game) {
  GameState& g = game.state;
  DuckPlay(game.audio, true);
  // The first time in a game that the score to be stored passes the high score, it is marked,
  // so that no high score is ever stored without the player hearing of it.
  if (ScoreToStore(g) > game.settings.HighScore && !g.NewHighScore) {
    g.NewHighScore = true;
    if (game.settings.HighScore != 0) Say(game, "highscore.wav");
  }
  if (g.PerfectLevel) AwardExtraLife(game);
  Say(game, "clear.wav");
  SpeakNumber(game.audio, g.Score);
  Say(game, "points.wav");
  // The score just heard, the reward included, when it is above the high score: stored with
  // its difficulty and marked unsent, so that it can be sent, also after a restart.
  SaveSettings(game);
  g.PerfectLevel = true;
  // The next level's music, or the win, comes at its own volume.
  DuckPlay(game.audio, false);
  if (g.Level < 6) {
    ++g.Level;
    g.WaitLimit -= 200;
    g.FlightLimit -= 200;
    Audio& audio = game.audio;
    if (g.Level < 4) {
      audio.sound.Stop(audio.bank.Music[1]);
      audio.sound.Play(audio.bank.Music[0], kPlayLooping);
    } else {
      audio.sound.Stop(audio.bank.Music[0]);
      audio.sound.Play(audio.bank.Music[1], kPlayLooping);
    }
  } else {
    WinGame(game);
    g.GameFinished = true;
  }
}

void AwardExtraLife(Game& game) {
  ++game.state.Lives;
  Say(game, "el.wav");
  game.state.Score += kPerfectLevelReward;
}

void WinGame(Game& game) {
  GameState& g = game.state;
  Audio& audio = game.audio;
  audio.sound.Stop(audio.bank.Music[0]);
  audio.sound.Stop(audio.bank.Music[1]);
  // The win is stored before "win.wav": a window closed during its long fanfare must not lose
  // the unlocked bonus round or the final score.
  using namespace setting_names;
  StoreSetting(game.settings, kBonusApp, kBonusSection, kBonusKey, "7");
  g.Score += g.Lives * kWinRewardPerLife;
  StopGameSounds(audio);
  SaveSettings(game);
  Say(game, "win.wav");
  DuckPlay(audio, true);  // the fanfare is the game's own, and stands alone
  AnnounceFinalScore(game);
  DuckPlay(audio, false);
}

void GameOver(Game& game) {
  StopGameSounds(game.audio);
  SaveSettings(game);
  DuckPlay(game.audio, true);  // the last landing rings on
  Say(game, "gameover.wav");
  AnnounceFinalScore(game);
  DuckPlay(game.audio, false);
}

void AnnounceFinalScore(Game& game) {
  Say(game, "final.wav");
  SpeakNumber(game.audio, game.state.Score);
  Say(game, "points.wav");
  game.state.GameFinished = true;
}

void SaveSettings(Game& game) {
  const GameState& g = game.state;
  if (g.Score > game.settings.HighScore) StoreHighScore(game.settings, g.Score, g.Difficulty);
}

}  // namespace qv
