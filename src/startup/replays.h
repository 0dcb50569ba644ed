// replays.h -- every game a replay: recording a game (from its difficulty choice to its end)
// and a bonus round, what each starts from, and running one again with the game's own code on a
// platform that plays the replay back.
#pragma once

#include <functional>
#include <string>

#include "platform/replay/recorder.h"
#include "platform/replay/replay_file.h"
#include "platform/replay/replay_platform.h"
#include "platform/sound_log.h"

namespace qv {

struct Program;

// A recording under way, as the program keeps it.
struct ReplayInProgress {
  ReplayKind kind = ReplayKind::Game;
  bool played = false;      // the game itself has begun: its difficulty is chosen
  int32_t high_before = 0;  // the high score as it began
  std::string player;       // the player's name then
  std::string state;        // what it starts from
};

// What keeps a finished replay: its file's bytes, how the game ended, and whether it made a new
// high score (the player's best game).
using ReplayKeeper =
    std::function<void(const std::string& file, const ReplayOutcome& outcome, bool best)>;

// Around each game and bonus round, when the program records (pg.recorder): called by StartUp's
// loop of screens. Begin as the difficulty selection starts (after the new game's set-up) or as
// a bonus round starts; Abandon when the player goes back to the menu instead; Keep once it has
// ended, however it ended (closed: by the window's close).
void BeginReplay(Program& pg, ReplayKind kind);
void AbandonReplay(Program& pg);
void KeepReplay(Program& pg, bool closed = false);

// Runs a replay with the game's own code on `machine`, a platform that plays it back (its
// observers hear the game's operations): the difficulty selection and the game, or the bonus
// round, from the state the replay starts from, with settings in memory. Gives how the game
// ended. Throws ReplayRefused when the run and the recording disagree, when the recording holds
// more than the game asked for, or when the game does not end as the replay claims.
ReplayOutcome RunReplay(const Replay& replay, ReplayPlatform& machine, SoundLog* log = nullptr);

}  // namespace qv
