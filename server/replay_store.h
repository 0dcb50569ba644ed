// replay_store.h -- where posted replays wait to be checked and keep their verdict and their
// listening copy: a table beside the scores, in the same SQLite file or PostgreSQL database. Its
// queue is the table itself, so that several servers on one PostgreSQL database share the work
// and each replay is checked once (FOR UPDATE SKIP LOCKED).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "store.h"

namespace scores {

// A replay taken from the queue, to check.
struct QueuedReplay {
  std::int64_t id = 0;
  std::string body;
};

// What came of checking a replay.
struct ReplayVerdict {
  bool verified = false;
  std::string reason;  // why it was refused
  std::string name;    // the player's name, the difficulty and the scores, when verified
  int level = 0;
  int score = 0;      // at the game's end
  int stored = 0;     // the high score the game stored, when it made one
  std::string audio;  // the game heard, Ogg Opus
};

// A replay as the operator and the leaderboard see it.
struct ReplayRecord {
  std::string state;  // "queued", "checking", "verified" or "refused"
  ReplayVerdict verdict;
  std::int64_t received_at = 0;
  int attempts = 0;        // how many times a checker took it
  std::string checked_by;  // the server that checked it
};

// Each call is thread-safe and throws StoreError when the database fails.
class ReplayStore {
 public:
  virtual ~ReplayStore() = default;
  // Queues a replay; a body queued before (the same bytes, by SHA-256) gives its first id.
  virtual std::int64_t Add(const std::string& body, std::int64_t received_at) = 0;
  // Takes the oldest queued replay for `checker` (a name for this server), marking it being
  // checked; nothing when none waits. One taken more than `stale_s` seconds ago and never
  // finished (its server stopped) is queued again first.
  virtual std::optional<QueuedReplay> Claim(const std::string& checker, std::int64_t now,
                                            std::int64_t stale_s) = 0;
  virtual void Finish(std::int64_t id, const ReplayVerdict& verdict) = 0;
  // The replay's state and verdict, without its audio; nothing when there is no such replay.
  virtual std::optional<ReplayRecord> Find(std::int64_t id) = 0;
  // A verified replay's audio; nothing when there is none.
  virtual std::optional<std::string> Audio(std::int64_t id) = 0;
  // The verified replays of one difficulty: for a player's name and a score (the game's final
  // one, or the high score it stored), the first such replay's id.
  using Verified = std::map<std::pair<std::string, int>, std::int64_t>;
  virtual Verified VerifiedOf(int level) = 0;
};

// The replays' table in the database the scores are in (OpenStore's `where`).
std::unique_ptr<ReplayStore> OpenReplayStore(const std::string& where);

// A replay's body's SHA-256 digest, in hex.
std::string Digest(const std::string& body);

}  // namespace scores
