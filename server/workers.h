// workers.h -- the threads behind the routes: writers that store submissions in batches, and a
// few readers that build the leaderboard, so the connections' thread never waits on the store.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "http_server.h"
#include "store.h"

namespace scores {

// Stores submissions on threads of its own. Whatever has queued while a writer was busy goes
// to the store in one transaction, and each submission is answered only after that
// transaction has committed: a batch costs one commit, however many it holds. Under light load
// a batch is one submission, stored at once; nothing waits on a timer.
class BatchWriter {
 public:
  // Makes a submission's answer from its outcome: true stored, false already stored, nullopt
  // when the store failed. Called on a writer thread once the batch has committed.
  using Reply = std::function<Response(std::optional<bool> added)>;

  // `writers`: how many batches may be stored at once (ScoreStore::Writers).
  BatchWriter(ScoreStore& store, Reply reply, int writers);
  BatchWriter(const BatchWriter&) = delete;
  BatchWriter& operator=(const BatchWriter&) = delete;
  // Stores what is still queued, reports it, then ends the threads.
  ~BatchWriter();

  // Called from any thread; returns at once.
  void Add(Submission submission, Answer answer);

 private:
  void Run();

  ScoreStore& store_;
  Reply reply_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Submission> queued_;
  std::vector<Answer> queued_answers_;
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

// A few threads running tasks in the order they were posted.
class TaskPool {
 public:
  explicit TaskPool(int threads);
  TaskPool(const TaskPool&) = delete;
  TaskPool& operator=(const TaskPool&) = delete;
  // Runs what is still queued, then ends the threads.
  ~TaskPool();

  // Called from any thread; returns at once.
  void Post(std::function<void()> task);

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queued_;
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace scores
