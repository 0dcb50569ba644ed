// sqlite_store.cpp -- the default store: one SQLite file in WAL mode.
//
// WAL lets the leaderboard read while a submission is written. synchronous=NORMAL syncs the
// file at checkpoints rather than at every commit: a power cut may lose the last few
// submissions but never corrupts the file, and the commit costs no disk flush, which is what
// lets one file take thousands of submissions a second.
#include <sqlite3.h>

#include <mutex>

#include "connection_pool.h"
#include "store.h"

namespace scores {
namespace {

// One connection with its statements prepared once. Used by one worker at a time.
class SqliteConnection {
 public:
  // Opens the file; `first` also switches it to WAL and creates the schema, which must exist
  // before the statements can be prepared.
  SqliteConnection(const std::string& path, bool first) {
    int rc =
        sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close(db_);
      throw StoreError("cannot open SQLite database " + path + ": " + message);
    }
    try {
      // Another process on the same file (a second server, a backup) may hold the lock briefly.
      sqlite3_busy_timeout(db_, 5000);
      if (first) {
        Execute("PRAGMA journal_mode=WAL");
        Execute(sql::kCreateTable);
        Execute(sql::kCreateIndex);
      }
      Execute("PRAGMA synchronous=NORMAL");
      insert_ = Prepare(sql::kInsert);
      best_ = Prepare(sql::kBest);
      count_ = Prepare(sql::kCount);
    } catch (const StoreError& error) {
      Close();
      throw StoreError("cannot use SQLite database " + path + ": " + error.what());
    }
  }
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;
  ~SqliteConnection() { Close(); }

  bool Add(const Submission& s, std::int64_t received_at) {
    Statement statement(insert_);
    sqlite3_bind_int(insert_, 1, s.level);
    sqlite3_bind_int(insert_, 2, s.score);
    sqlite3_bind_text(insert_, 3, s.name.data(), static_cast<int>(s.name.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert_, 4, s.email.data(), static_cast<int>(s.email.size()), SQLITE_STATIC);
    sqlite3_bind_int64(insert_, 5, received_at);
    if (sqlite3_step(insert_) != SQLITE_DONE) Fail();
    return sqlite3_changes(db_) == 1;
  }

  std::vector<RankedScore> Best(int level, int limit) {
    Statement statement(best_);
    sqlite3_bind_int(best_, 1, level);
    sqlite3_bind_int(best_, 2, limit);
    std::vector<RankedScore> rows;
    int rc;
    while ((rc = sqlite3_step(best_)) == SQLITE_ROW) {
      RankedScore row;
      auto name = reinterpret_cast<const char*>(sqlite3_column_text(best_, 0));
      row.name.assign(name ? name : "", static_cast<std::size_t>(sqlite3_column_bytes(best_, 0)));
      row.score = sqlite3_column_int(best_, 1);
      row.received_at = sqlite3_column_int64(best_, 2);
      rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) Fail();
    return rows;
  }

  std::int64_t Count() {
    Statement statement(count_);
    if (sqlite3_step(count_) != SQLITE_ROW) Fail();
    return sqlite3_column_int64(count_, 0);
  }

 private:
  // Leaves a prepared statement reset and unbound however the call ends.
  struct Statement {
    explicit Statement(sqlite3_stmt* stmt) : stmt(stmt) {}
    ~Statement() {
      sqlite3_reset(stmt);
      sqlite3_clear_bindings(stmt);
    }
    sqlite3_stmt* stmt;
  };

  [[noreturn]] void Fail() { throw StoreError(std::string("SQLite: ") + sqlite3_errmsg(db_)); }

  void Execute(const char* text) {
    if (sqlite3_exec(db_, text, nullptr, nullptr, nullptr) != SQLITE_OK) Fail();
  }

  sqlite3_stmt* Prepare(const char* text) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, text, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
      Fail();
    }
    return stmt;
  }

  void Close() {
    sqlite3_finalize(insert_);
    sqlite3_finalize(best_);
    sqlite3_finalize(count_);
    sqlite3_close(db_);
    db_ = nullptr;
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* best_ = nullptr;
  sqlite3_stmt* count_ = nullptr;
};

class SqliteStore : public ScoreStore {
 public:
  explicit SqliteStore(const std::string& path)
      : pool_([path] { return std::make_unique<SqliteConnection>(path, false); }) {
    // The first connection proves the file usable at start and sets it up; it then joins the
    // pool like any other.
    pool_.Keep(std::make_unique<SqliteConnection>(path, true));
  }

  bool Add(const Submission& submission, std::int64_t received_at) override {
    auto connection = pool_.Take();
    // Writers queue here rather than in SQLite's busy handler, which sleeps in steps of
    // milliseconds; one writer at a time is all SQLite allows anyway.
    std::lock_guard lock(write_mutex_);
    return connection->Add(submission, received_at);
  }

  std::vector<RankedScore> Best(int level, int limit) override {
    return pool_.Take()->Best(level, limit);
  }

  std::int64_t Count() override { return pool_.Take()->Count(); }

 private:
  ConnectionPool<SqliteConnection> pool_;
  std::mutex write_mutex_;
};

}  // namespace

std::unique_ptr<ScoreStore> OpenSqliteStore(const std::string& path) {
  return std::make_unique<SqliteStore>(path);
}

}  // namespace scores
