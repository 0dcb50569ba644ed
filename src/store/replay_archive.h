// replay_archive.h -- the replays the game keeps for its player: the last ten games, and the
// best one (the game that made the high score), each written whole or not at all.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qv {

class ReplayArchive {
 public:
  // folder: where the replays are kept; keep_last: how many of the newest games stay.
  explicit ReplayArchive(std::string folder, size_t keep_last = 10);

  // Keeps a finished game's replay among the newest (game-000001.qvr, game-000002.qvr...,
  // dropping the oldest past keep_last) and, when it made a new high score, as best.qvr. Never
  // throws: a replay that cannot be kept is said on standard error and the game goes on.
  void Keep(const std::string& bytes, bool best);
  // The best game's replay, if one is kept.
  std::optional<std::string> Best() const;
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
  size_t keep_last_;
};

// $XDG_DATA_HOME/quorvane/replays, or ~/.local/share/quorvane/replays when unset.
std::string DefaultReplayFolder();

}  // namespace qv
