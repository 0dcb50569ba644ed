// sqlite_store.cpp -- the default store: one SQLite file in WAL mode.
//
// WAL lets the leaderboard read while submissions are written. synchronous=NORMAL syncs the
// file at checkpoints rather than at every commit: a power cut may lose the last few
// submissions but never corrupts the file, and a commit costs no disk flush. A commit is still
// written to the file before it returns, so a killed server loses nothing it acknowledged.
#include <sqlite3.h>
#include <sys/stat.h>

#include <mutex>

#include "connection_pool.h"
#include "store.h"

namespace scores {
namespace {

// One connection with its statements prepared once. Used by one thread at a time.
class SqliteConnection {
 public:
  // Opens the file. Only `first`, at start, may create it; it also switches it to WAL, creates
  // the schema (which must exist before the statements can be prepared) and proves it writable.
  SqliteConnection(const std::string& path, bool first) {
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (first ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
      std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close(db_);
      throw StoreError("cannot open SQLite database " + path + ": " + message);
    }
    try {
      // Another process on the same file (a second server, a backup) may hold the lock briefly.
      sqlite3_busy_timeout(db_, 5000);
      if (first) {
        // SQLite quietly opens a file it may not write for reading only; the server would then
        // refuse every submission, so that is a reason not to start.
        if (sqlite3_db_readonly(db_, "main") == 1) {
          throw StoreError("the file is read-only for this user");
        }
        Execute("PRAGMA journal_mode=WAL");
        Execute(sql::kCreateTable);
        Execute(sql::kCreateIndex);
        // A write transaction needs the WAL and shared-memory files beside it writable too.
        Execute("BEGIN IMMEDIATE");
        Execute("COMMIT");
      }
      Execute("PRAGMA synchronous=NORMAL");
      insert_ = Prepare(sql::kInsert);
      best_ = Prepare(sql::kBest);
      count_ = Prepare(sql::kCount);
      begin_ = Prepare("BEGIN IMMEDIATE");
      commit_ = Prepare("COMMIT");
    } catch (const StoreError& error) {
      Close();
      throw StoreError("cannot use SQLite database " + path + ": " + error.what());
    }
  }
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;
  ~SqliteConnection() { Close(); }

  // All in one transaction, or none.
  std::vector<bool> AddAll(const std::vector<Submission>& submissions, std::int64_t received_at) {
    Step(begin_);
    std::vector<bool> added;
    added.reserve(submissions.size());
    try {
      for (const Submission& s : submissions) added.push_back(Add(s, received_at));
      Step(commit_);
    } catch (const StoreError&) {
      // Fails harmlessly when SQLite has already rolled back by itself.
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    return added;
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

  // Copies everything committed from the WAL into the database file.
  void Checkpoint() {
    sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_FULL, nullptr, nullptr);
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

  // One row, inside AddAll's transaction.
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

  [[noreturn]] void Fail() { throw StoreError(std::string("SQLite: ") + sqlite3_errmsg(db_)); }

  void Step(sqlite3_stmt* stmt) {
    Statement statement(stmt);
    if (sqlite3_step(stmt) != SQLITE_DONE) Fail();
  }

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
    for (sqlite3_stmt* stmt : {insert_, best_, count_, begin_, commit_}) sqlite3_finalize(stmt);
    sqlite3_close(db_);
    db_ = nullptr;
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* best_ = nullptr;
  sqlite3_stmt* count_ = nullptr;
  sqlite3_stmt* begin_ = nullptr;
  sqlite3_stmt* commit_ = nullptr;
};

// One connection writes (the routes have one writer thread; the mutex guards against other
// callers), a pool of others reads. Before each use the store checks that the file at its path,
// and the WAL beside it, are still the ones it opened: a database or WAL deleted or replaced
// under a running server would otherwise take submissions into a file that no one will open
// again.
class SqliteStore : public ScoreStore {
 public:
  explicit SqliteStore(const std::string& path)
      : path_(path),
        writer_(std::make_unique<SqliteConnection>(path, true)),
        pool_([this] { return OpenReader(); }) {
    // The writer keeps the WAL open, so SQLite keeps it in place until the server stops.
    for (auto [file, name] : {std::pair{&database_, path}, std::pair{&wal_, path + "-wal"}}) {
      struct stat opened;
      if (stat(name.c_str(), &opened) != 0)
        throw StoreError("cannot find " + name + " once opened");
      *file = {opened.st_dev, opened.st_ino};
    }
  }

  std::vector<bool> AddAll(const std::vector<Submission>& submissions,
                           std::int64_t received_at) override {
    std::lock_guard lock(write_mutex_);
    CheckSameFile(true);
    std::vector<bool> added = writer_->AddAll(submissions, received_at);
    // Committed, but to the file opened at start: should that have gone from the path in the
    // meantime, the next start would not find these rows, so none of them counts as stored.
    CheckSameFile(true);
    return added;
  }

  std::vector<RankedScore> Best(int level, int limit) override {
    CheckSameFile();
    return pool_.Take()->Best(level, limit);
  }

  std::int64_t Count() override {
    CheckSameFile();
    return pool_.Take()->Count();
  }

  int Writers() const override { return 1; }

 private:
  // Never creates the file: a missing one is a deleted database, not a new one.
  std::unique_ptr<SqliteConnection> OpenReader() {
    CheckSameFile();
    auto connection = std::make_unique<SqliteConnection>(path_, false);
    CheckSameFile();  // still the file checked, not one put there in between
    return connection;
  }

  // `writing`: called by AddAll, which holds the write mutex.
  void CheckSameFile(bool writing = false) {
    for (auto [file, name] : {std::pair{&database_, path_}, std::pair{&wal_, path_ + "-wal"}}) {
      struct stat now;
      if (stat(name.c_str(), &now) == 0 && now.st_dev == file->device &&
          now.st_ino == file->inode) {
        continue;
      }
      // A WAL gone from its path still holds, through the writer's open handle, everything
      // committed since the last checkpoint: copied into the database file now, it survives
      // the server's end, and the next start finds every submission acknowledged.
      if (file == &wal_) {
        std::unique_lock lock(write_mutex_, std::defer_lock);
        if (!writing) lock.lock();
        writer_->Checkpoint();
      }
      throw StoreError("the SQLite file " + name +
                       " is no longer the file opened at start (deleted or replaced);"
                       " restart the server to use the files there now");
    }
  }

  struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
  };
  std::string path_;
  FileId database_;
  FileId wal_;
  std::mutex write_mutex_;
  std::unique_ptr<SqliteConnection> writer_;
  ConnectionPool<SqliteConnection> pool_;
};

}  // namespace

std::unique_ptr<ScoreStore> OpenSqliteStore(const std::string& path) {
  return std::make_unique<SqliteStore>(path);
}

}  // namespace scores
