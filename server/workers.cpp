// workers.cpp -- the batch writer and the readers' pool.
#include "workers.h"

#include <pthread.h>

#include <chrono>
#include <iostream>
#include <iterator>

namespace scores {
namespace {

// The most submissions stored in one transaction: enough that a commit's cost is shared
// thinly, few enough that a batch sent to PostgreSQL in one go never fills its buffers.
constexpr std::size_t kMaxBatch = 512;

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

BatchWriter::BatchWriter(ScoreStore& store, Reply reply, int writers)
    : store_(store), reply_(std::move(reply)) {
  for (int i = 0; i < writers; ++i) threads_.emplace_back([this] { Run(); });
}

BatchWriter::~BatchWriter() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  for (auto& thread : threads_) thread.join();
}

void BatchWriter::Add(Submission submission, Answer answer) {
  bool first;
  {
    std::lock_guard lock(mutex_);
    first = queued_.empty();
    queued_.push_back(std::move(submission));
    queued_answers_.push_back(answer);
  }
  // Writers wait only on an empty queue, so only the first of a batch need wake one.
  if (first) wake_.notify_one();
}

void BatchWriter::Run() {
  // Named so that top -H and profilers tell the threads apart.
  pthread_setname_np(pthread_self(), "scores-writer");
  std::vector<Submission> batch;
  std::vector<Answer> batch_answers;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return ending_ || !queued_.empty(); });
      if (queued_.empty()) return;
      if (queued_.size() <= kMaxBatch) {
        batch.swap(queued_);
        batch_answers.swap(queued_answers_);
      } else {
        // A bounded transaction; the rest goes in the next, right after.
        batch.assign(std::make_move_iterator(queued_.begin()),
                     std::make_move_iterator(queued_.begin() + kMaxBatch));
        batch_answers.assign(queued_answers_.begin(), queued_answers_.begin() + kMaxBatch);
        queued_.erase(queued_.begin(), queued_.begin() + kMaxBatch);
        queued_answers_.erase(queued_answers_.begin(), queued_answers_.begin() + kMaxBatch);
      }
    }
    std::vector<bool> added;
    try {
      added = store_.AddAll(batch, Now());
    } catch (const StoreError& error) {
      // Said once per batch, not once per submission in it.
      std::cerr << "quorvane-scores: " << error.what() << std::endl;
    }
    std::vector<std::pair<Answer, Response>> answers;
    answers.reserve(batch.size());
    for (std::size_t i = 0; i < batch.size(); ++i) {
      answers.emplace_back(batch_answers[i],
                           reply_(added.empty() ? std::nullopt : std::optional<bool>(added[i])));
    }
    Answer::SendAll(std::move(answers));
    batch.clear();
    batch_answers.clear();
  }
}

TaskPool::TaskPool(int threads) {
  for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
}

TaskPool::~TaskPool() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  for (auto& thread : threads_) thread.join();
}

void TaskPool::Post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    queued_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void TaskPool::Run() {
  pthread_setname_np(pthread_self(), "scores-pages");
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return ending_ || !queued_.empty(); });
      if (queued_.empty()) return;
      task = std::move(queued_.front());
      queued_.pop_front();
    }
    task();
  }
}

}  // namespace scores
