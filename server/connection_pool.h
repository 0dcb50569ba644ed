// connection_pool.h -- a small pool of database connections shared by the store's threads.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace scores {

// Hands each thread a connection of its own for the length of one store call, opening a new one
// when none is idle. The pool never holds more connections than were ever in use at once, which
// the routes' fixed thread counts (writers, page threads) bound. A connection that has failed
// is discarded, not returned, so the next call opens a fresh one and the server recovers when
// the database comes back.
template <class Connection>
class ConnectionPool {
 public:
  using Opener = std::function<std::unique_ptr<Connection>()>;

  explicit ConnectionPool(Opener open) : open_(std::move(open)) {}

  // A connection on loan; it goes back to the pool when the lease ends, unless discarded.
  class Lease {
   public:
    Lease(ConnectionPool& pool, std::unique_ptr<Connection> connection)
        : pool_(pool), connection_(std::move(connection)) {}
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() {
      if (connection_) pool_.Keep(std::move(connection_));
    }
    Connection& operator*() { return *connection_; }
    Connection* operator->() { return connection_.get(); }
    void Discard() { connection_.reset(); }

   private:
    ConnectionPool& pool_;
    std::unique_ptr<Connection> connection_;
  };

  // Called at the start of every store call. Opening may throw; the pool is unchanged then.
  Lease Take() {
    {
      std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        auto connection = std::move(idle_.back());
        idle_.pop_back();
        return Lease(*this, std::move(connection));
      }
    }
    return Lease(*this, open_());
  }

  // Drops every idle connection. Called when one connection is found broken, since the
  // others were most likely cut by the same database restart.
  void DiscardIdle() {
    std::lock_guard lock(mutex_);
    idle_.clear();
  }

  // Puts a connection among the idle ones: a lease ending, or the first connection a store
  // opened itself at start.
  void Keep(std::unique_ptr<Connection> connection) {
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(connection));
  }

 private:
  Opener open_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Connection>> idle_;
};

}  // namespace scores
