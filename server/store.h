// store.h -- where submissions are kept: the interface the routes use, and its two backends,
// SQLite (a file, the default) and PostgreSQL (shared by several servers).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace scores {

// One accepted submission, decoded and checked.
struct Submission {
  int level = 0;  // the game's difficulty, 1 to 3
  int score = 0;
  std::string name;
  std::string email;  // kept, never shown
};

// One line of a leaderboard.
struct RankedScore {
  std::string name;
  int score = 0;
  std::int64_t received_at = 0;  // seconds since 1970-01-01 UTC
  std::int64_t replay = 0;       // the verified replay that made it, when there is one
};

// Any failure of the database: not reachable, a statement that fails. The routes answer it
// with 503; at start it ends the program with status 1.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// AddAll is called by the routes' writer threads (Writers of them), Best by their page threads
// at once, Count at start and by tests; each backend is thread-safe. Each throws StoreError when
// the database fails.
class ScoreStore {
 public:
  virtual ~ScoreStore() = default;
  // Stores submissions that arrived by received_at (seconds since 1970) in one transaction:
  // all of them, or none when it throws. Element i of the result is false when submission i was
  // already stored (the same level, score, name and e-mail address, before or earlier in the
  // same call); nothing changes for it then. Returns only once the transaction has committed.
  virtual std::vector<bool> AddAll(const std::vector<Submission>& submissions,
                                   std::int64_t received_at) = 0;
  // The best `limit` scores of one level, highest first; equal scores by earlier arrival.
  virtual std::vector<RankedScore> Best(int level, int limit) = 0;
  // How many submissions are stored, all levels together.
  virtual std::int64_t Count() = 0;
  // How many AddAll calls are worth running at once: SQLite writes one transaction at a time,
  // while PostgreSQL overlaps them and flushes its log for several commits together.
  virtual int Writers() const = 0;

  // One submission alone; true when it was stored, false when already there.
  bool Add(const Submission& submission, std::int64_t received_at) {
    return AddAll({submission}, received_at).front();
  }
};

// Opens (creating when missing) the SQLite database file at path, in WAL mode, and creates the
// table on first start. Throws StoreError when the file cannot be opened or written: a file or
// folder that is read-only is found out here, not at the first submission. Only this creates
// the file: should it later be deleted or replaced, every call fails until a restart.
std::unique_ptr<ScoreStore> OpenSqliteStore(const std::string& path);

// Connects to PostgreSQL at a postgresql:// or postgres:// URL (any libpq connection URL) and
// creates the table on first start. Throws StoreError when the server cannot be reached.
std::unique_ptr<ScoreStore> OpenPgStore(const std::string& url);

// True when `where` names a PostgreSQL database rather than a SQLite file.
bool IsPostgresUrl(const std::string& where);

// OpenPgStore for a PostgreSQL URL, OpenSqliteStore for anything else.
std::unique_ptr<ScoreStore> OpenStore(const std::string& where);

// The statements both backends run, text identical: SQLite binds $1, $2... by position too.
namespace sql {
// One schema on both backends. The unique constraint keeps a repeated submission to one row;
// the second index serves the leaderboard: it holds every column the query reads, in its
// order, so the best of a level is read straight off the index.
inline constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS scores ("
    " level INTEGER NOT NULL CHECK (level BETWEEN 1 AND 3),"
    " score INTEGER NOT NULL CHECK (score BETWEEN 0 AND 10000000),"
    " name TEXT NOT NULL,"
    " email TEXT NOT NULL,"
    " received_at BIGINT NOT NULL,"
    " UNIQUE (level, score, name, email))";
inline constexpr const char* kCreateIndex =
    "CREATE INDEX IF NOT EXISTS scores_by_rank"
    " ON scores (level, score DESC, received_at, name)";
inline constexpr const char* kInsert =
    "INSERT INTO scores (level, score, name, email, received_at)"
    " VALUES ($1, $2, $3, $4, $5) ON CONFLICT DO NOTHING";
inline constexpr const char* kBest =
    "SELECT name, score, received_at FROM scores WHERE level = $1"
    " ORDER BY score DESC, received_at, name LIMIT $2";
inline constexpr const char* kCount = "SELECT COUNT(*) FROM scores";
}  // namespace sql

}  // namespace scores
