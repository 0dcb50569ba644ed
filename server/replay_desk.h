// replay_desk.h -- the score server's replays: queued as they are posted, then checked by a few
// threads of their own, each running a replay with the game's own code on the replay backend;
// for each verified game a listening copy is rendered through the game's mixer and kept as Ogg
// Opus. The queue is the database's (ReplayStore), so servers sharing one database share this
// work.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "replay_store.h"

namespace scores {

struct ReplayDeskOptions {
  std::string sounds_dir;      // the game's sounds, which a replay is checked and heard with
  int checkers = 2;            // threads checking replays
  double cpu_budget_s = 10;    // the most computing one replay's check may take
  uint32_t max_ms = 7200000;   // the longest a replay may last (two hours)
  std::string name = "local";  // this server, as the replays' table names who checked each
};

// What checking a replay gives: the verdict and, when it is verified and render is set, its
// listening copy. Never throws.
ReplayVerdict CheckReplay(const std::string& body, const ReplayDeskOptions& options,
                          bool render = true);

class ReplayDesk {
 public:
  // Starts the checkers, which take what waits in the queue (what a stopped server left too).
  ReplayDesk(ReplayStore& store, ReplayDeskOptions options);
  ReplayDesk(const ReplayDesk&) = delete;
  ReplayDesk& operator=(const ReplayDesk&) = delete;
  // Lets each checker finish the replay in its hands, then ends them.
  ~ReplayDesk();

  // A posted replay, queued (or the id it was queued under before); the checkers are woken.
  // Throws StoreError.
  std::int64_t Queue(const std::string& body);

 private:
  void Check();

  ReplayStore& store_;
  ReplayDeskOptions options_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace scores
