// replays.cpp -- recording games and bonus rounds, and running a replay again.
#include "startup/replays.h"

#include <exception>

#include "game/bonus_round.h"
#include "game/shooting_game.h"
#include "menu/main_menu.h"
#include "startup/program.h"
#include "store/settings.h"

namespace qv {

namespace {

// The game record's fields, in the order the state writes them (docs/DESIGN.md, section 8).
template <class Visit>
void GameFields(GameState& g, Visit&& visit) {
  visit(g.PausedElapsed);
  visit(g.GameFinished);
  visit(g.PerfectLevel);
  visit(g.TargetCount);
  visit(g.Lives);
  visit(g.Ammo);
  visit(g.GunLocked);
  visit(g.NewHighScore);
  visit(g.Score);
  visit(g.Difficulty);
  visit(g.AmmoWarned);
  visit(g.Level);
  visit(g.TargetPos);
  visit(g.TargetInFlight);
  visit(g.FlightElapsed);
  visit(g.FlightStart);
  visit(g.FlightLimit);
  visit(g.Launched);
  visit(g.WaitStart);
  visit(g.WaitLimit);
  visit(g.TargetResolved);
  visit(g.GameRunning);
  visit(g.BonusRunning);
}

// The bank's buffers, in the order the state writes them.
template <class Visit>
void BankFields(SoundBank& b, Visit&& visit) {
  visit(b.MenuMusic);
  for (BufferId& music : b.Music) visit(music);
  visit(b.GunSound);
  visit(b.GlassSound);
  visit(b.LandSound);
  visit(b.RechargeSound);
  visit(b.LaunchSound);
  visit(b.WarningSound);
  visit(b.EmptySound);
  visit(b.LockedSound);
  visit(b.BonusFallSound);
  visit(b.BonusHitSound);
  visit(b.BonusLandSound);
  visit(b.BonusMissSound);
}

struct Writer {
  ByteWriter& w;
  void operator()(bool v) const { w.Byte(v ? 1 : 0); }
  void operator()(uint8_t v) const { w.Byte(v); }
  void operator()(int32_t v) const { w.Signed(v); }
};

struct Reader {
  ByteReader& r;
  void operator()(bool& v) const { v = r.Byte() != 0; }
  void operator()(uint8_t& v) const { v = r.Byte(); }
  void operator()(int32_t& v) const { v = static_cast<int32_t>(r.Signed()); }
};

// What a game or a bonus round starts from: the layers' own state as the recording begins.
std::string SaveState(Program& pg) {
  ByteWriter w;
  Writer put{w};
  w.Unsigned(pg.rng.state);
  w.Unsigned(pg.rng.inc);
  GameFields(pg.game.state, put);
  put(pg.settings.HighScore);
  put(pg.settings.ScoreSent);
  BankFields(pg.audio.bank, put);
  put(pg.audio.OneShotBuffer);
  put(pg.audio.MusicVolume);
  put(pg.audio.MusicMuted);
  put(pg.audio.MenuMusicVolume);
  const Keyboard::Snapshot keys = pg.keyboard.Save();
  for (size_t k = 0; k < 256; ++k) {
    if (keys.KeyState[k] == 0 && !keys.KeyLatch[k]) continue;
    w.Unsigned(k + 1);
    w.Byte(keys.KeyState[k]);
    put(keys.KeyLatch[k]);
  }
  w.Unsigned(0);
  put(pg.window.TimerTicks);
  put(pg.menu.MenuItem);
  return std::move(w.Bytes());
}

void RestoreState(Program& pg, const std::string& state) {
  ByteReader r(state);
  Reader get{r};
  pg.rng.state = r.Unsigned();
  pg.rng.inc = r.Unsigned();
  GameFields(pg.game.state, get);
  get(pg.settings.HighScore);
  get(pg.settings.ScoreSent);
  BankFields(pg.audio.bank, get);
  get(pg.audio.OneShotBuffer);
  get(pg.audio.MusicVolume);
  get(pg.audio.MusicMuted);
  get(pg.audio.MenuMusicVolume);
  Keyboard::Snapshot keys;
  for (uint64_t k; (k = r.Unsigned()) != 0;) {
    if (k > 256) throw ReplayRefused{"The replay's keyboard names a key there is not."};
    keys.KeyState[k - 1] = r.Byte();
    get(keys.KeyLatch[k - 1]);
  }
  pg.keyboard.Restore(keys);
  get(pg.window.TimerTicks);
  get(pg.menu.MenuItem);
  if (!r.AtEnd()) throw ReplayRefused{"The replay's starting state holds more than a game's."};
}

ReplayOutcome OutcomeOf(Program& pg, ReplayKind kind, int32_t high_before, bool closed) {
  const GameState& g = pg.game.state;
  ReplayOutcome o;
  o.score = g.Score;
  o.stored = pg.settings.HighScore > high_before ? pg.settings.HighScore : 0;
  o.difficulty = kind == ReplayKind::Game ? g.Difficulty : 0;
  o.level = kind == ReplayKind::Game ? g.Level : 0;
  o.closed = closed;
  return o;
}

std::string Describe(const ReplayOutcome& o) {
  std::string s = "score " + std::to_string(o.score);
  if (o.stored != 0) s += " (stored as the high score)";
  if (o.difficulty != 0) {
    s += ", difficulty " + std::to_string(o.difficulty) + ", level " + std::to_string(o.level);
  }
  return s + (o.closed ? ", the window closed" : "");
}

}  // namespace

void BeginReplay(Program& pg, ReplayKind kind) {
  if (pg.recorder == nullptr) return;
  ReplayInProgress& r = pg.replay;
  r.kind = kind;
  r.played = kind == ReplayKind::BonusRound;
  r.high_before = pg.settings.HighScore;
  r.player = ReadSetting(pg.settings, setting_names::kPlayerApp, setting_names::kPlayerSection,
                         setting_names::kPlayerNameKey, "");
  r.state = SaveState(pg);
  pg.recorder->Begin();
}

void AbandonReplay(Program& pg) {
  if (pg.recorder != nullptr) pg.recorder->Abandon();
}

void KeepReplay(Program& pg, bool closed) {
  if (pg.recorder == nullptr || !pg.recorder->IsRecording()) return;
  Recording recording = pg.recorder->Finish();
  ReplayInProgress& r = pg.replay;
  if (!r.played || !pg.keep_replay) return;
  Replay replay;
  replay.game_version = QV_VERSION;
  replay.kind = r.kind;
  replay.player = r.player;
  replay.claimed = OutcomeOf(pg, r.kind, r.high_before, closed);
  replay.state = std::move(r.state);
  replay.start_ms = recording.start_ms;
  replay.keys = recording.keys;
  replay.stage = std::move(recording.stage);
  replay.events = std::move(recording.events);
  pg.keep_replay(EncodeReplay(replay), replay.claimed, replay.claimed.stored != 0);
}

ReplayOutcome RunReplay(const Replay& replay, ReplayPlatform& machine, SoundLog* log) {
  IniStore in_memory;
  Program pg(machine.Parts(), in_memory, log);
  RestoreState(pg, replay.state);
  const int32_t high_before = pg.settings.HighScore;
  bool closed = false;
  try {
    if (replay.kind == ReplayKind::Game) {
      if (SelectDifficulty(pg.menu) != Screen::Game) {
        throw ReplayRefused{"The recorded player went back to the menu: no game was played."};
      }
      RunGame(pg.game);
    } else {
      StartBonusRound(pg.game);
    }
  } catch (const WindowClosed&) {
    closed = true;
  } catch (const ReplayTerminated& t) {
    throw ReplayRefused{"The game ended the program (status " + std::to_string(t.status) + ")."};
  } catch (const std::exception& e) {
    throw ReplayRefused{std::string("The game failed: ") + e.what()};
  }
  if (!machine.AtEnd()) throw ReplayRefused{"The recording goes on after the game has ended."};
  const ReplayOutcome outcome = OutcomeOf(pg, replay.kind, high_before, closed);
  if (!(outcome == replay.claimed)) {
    throw ReplayRefused{"The replay claims " + Describe(replay.claimed) + "; the game ends with " +
                        Describe(outcome) + "."};
  }
  return outcome;
}

}  // namespace qv
