// replay_store.cpp -- the replays' table on SQLite and on PostgreSQL. One connection each, taken
// in turn: the checkers and the routes ask little of it, and rarely.
#include "replay_store.h"

#include <libpq-fe.h>
#include <openssl/evp.h>
#include <sqlite3.h>

#include <cstdio>
#include <mutex>

namespace scores {
namespace {

// The columns Find reads, in order, on both databases.
constexpr const char* kFindColumns =
    "state, reason, name, level, score, stored, received_at, attempts, checked_by";

// ---- SQLite

class SqliteReplays : public ReplayStore {
 public:
  explicit SqliteReplays(const std::string& path) {
    // The scores' store has made the file and proved it writable.
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
      Fail();
    }
    sqlite3_busy_timeout(db_, 5000);
    Execute("PRAGMA synchronous=NORMAL");
    Execute(
        "CREATE TABLE IF NOT EXISTS replays (id INTEGER PRIMARY KEY, digest TEXT NOT NULL UNIQUE,"
        " body BLOB NOT NULL, received_at INTEGER NOT NULL, state TEXT NOT NULL DEFAULT 'queued',"
        " attempts INTEGER NOT NULL DEFAULT 0, claimed_at INTEGER, checked_by TEXT, reason TEXT,"
        " name TEXT, level INTEGER, score INTEGER, stored INTEGER, audio BLOB)");
    Execute("CREATE INDEX IF NOT EXISTS replays_queue ON replays (state, id)");
  }
  ~SqliteReplays() override { sqlite3_close(db_); }

  std::int64_t Add(const std::string& body, std::int64_t received_at) override {
    std::lock_guard lock(mutex_);
    const std::string digest = Digest(body);
    Run("INSERT INTO replays (digest, body, received_at) VALUES (?1, ?2, ?3)"
        " ON CONFLICT (digest) DO NOTHING",
        {Text(digest), Blob(body), Int(received_at)});
    return Run("SELECT id FROM replays WHERE digest = ?1", {Text(digest)}).at(0).at(0).number;
  }

  std::optional<QueuedReplay> Claim(const std::string& checker, std::int64_t now,
                                    std::int64_t stale_s) override {
    std::lock_guard lock(mutex_);
    Run("UPDATE replays SET state = 'queued' WHERE state = 'checking' AND claimed_at < ?1",
        {Int(now - stale_s)});
    const Rows rows =
        Run("UPDATE replays SET state = 'checking', attempts = attempts + 1, claimed_at = ?1,"
            " checked_by = ?2 WHERE id = (SELECT id FROM replays WHERE state = 'queued' ORDER BY id"
            " LIMIT 1) RETURNING id, body",
            {Int(now), Text(checker)});
    if (rows.empty()) return std::nullopt;
    return QueuedReplay{rows[0][0].number, rows[0][1].text};
  }

  void Finish(std::int64_t id, const ReplayVerdict& v) override {
    std::lock_guard lock(mutex_);
    Run("UPDATE replays SET state = ?1, reason = ?2, name = ?3, level = ?4, score = ?5,"
        " stored = ?6, audio = ?7 WHERE id = ?8",
        {Text(v.verified ? "verified" : "refused"), Text(v.reason), Text(v.name), Int(v.level),
         Int(v.score), Int(v.stored), Blob(v.audio), Int(id)});
  }

  std::optional<ReplayRecord> Find(std::int64_t id) override {
    std::lock_guard lock(mutex_);
    const Rows rows =
        Run(std::string("SELECT ") + kFindColumns + " FROM replays WHERE id = ?1", {Int(id)});
    if (rows.empty()) return std::nullopt;
    const auto& r = rows[0];
    ReplayRecord record;
    record.state = r[0].text;
    record.verdict = {record.state == "verified",
                      r[1].text,
                      r[2].text,
                      static_cast<int>(r[3].number),
                      static_cast<int>(r[4].number),
                      static_cast<int>(r[5].number),
                      {}};
    record.received_at = r[6].number;
    record.attempts = static_cast<int>(r[7].number);
    record.checked_by = r[8].text;
    return record;
  }

  std::optional<std::string> Audio(std::int64_t id) override {
    std::lock_guard lock(mutex_);
    const Rows rows =
        Run("SELECT audio FROM replays WHERE id = ?1 AND state = 'verified'", {Int(id)});
    if (rows.empty()) return std::nullopt;
    return rows[0][0].text;
  }

  Verified VerifiedOf(int level) override {
    std::lock_guard lock(mutex_);
    Verified verified;
    for (const auto& r : Run("SELECT name, score, stored, MIN(id) FROM replays WHERE state ="
                             " 'verified' AND level = ?1 GROUP BY name, score, stored",
                             {Int(level)})) {
      for (int score : {static_cast<int>(r[1].number), static_cast<int>(r[2].number)}) {
        if (score > 0) verified.emplace(std::pair{r[0].text, score}, r[3].number);
      }
    }
    return verified;
  }

 private:
  struct Value {
    enum Kind { kInt, kText, kBlob } kind = kInt;
    std::int64_t number = 0;
    std::string text;
  };
  using Rows = std::vector<std::vector<Value>>;
  static Value Int(std::int64_t n) { return {Value::kInt, n, {}}; }
  static Value Text(const std::string& s) { return {Value::kText, 0, s}; }
  static Value Blob(const std::string& s) { return {Value::kBlob, 0, s}; }

  [[noreturn]] void Fail() {
    throw StoreError(std::string("SQLite: ") + (db_ ? sqlite3_errmsg(db_) : "cannot open"));
  }

  void Execute(const char* text) {
    if (sqlite3_exec(db_, text, nullptr, nullptr, nullptr) != SQLITE_OK) Fail();
  }

  Rows Run(const std::string& text, const std::vector<Value>& params) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, text.c_str(), -1, &stmt, nullptr) != SQLITE_OK) Fail();
    for (size_t i = 0; i < params.size(); ++i) {
      const Value& p = params[i];
      const int at = static_cast<int>(i + 1);
      if (p.kind == Value::kInt) sqlite3_bind_int64(stmt, at, p.number);
      if (p.kind == Value::kText) {
        sqlite3_bind_text(stmt, at, p.text.data(), static_cast<int>(p.text.size()), SQLITE_STATIC);
      }
      if (p.kind == Value::kBlob) {
        sqlite3_bind_blob(stmt, at, p.text.data(), static_cast<int>(p.text.size()), SQLITE_STATIC);
      }
    }
    Rows rows;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      std::vector<Value> row;
      for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
        Value v;
        v.number = sqlite3_column_int64(stmt, c);
        const void* bytes = sqlite3_column_blob(stmt, c);
        if (bytes != nullptr) {
          v.text.assign(static_cast<const char*>(bytes),
                        static_cast<size_t>(sqlite3_column_bytes(stmt, c)));
        }
        row.push_back(std::move(v));
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) Fail();
    return rows;
  }

  sqlite3* db_ = nullptr;
  std::mutex mutex_;
};

// ---- PostgreSQL

class PgReplays : public ReplayStore {
 public:
  explicit PgReplays(const std::string& url) {
    const char* keywords[] = {"connect_timeout", "application_name", "dbname", "client_encoding",
                              nullptr};
    const char* values[] = {"10", "quorvane-scores", url.c_str(), "UTF8", nullptr};
    conn_ = PQconnectdbParams(keywords, values, 1);
    if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) Fail();
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    // Two servers starting at once must not both create the table.
    Run("BEGIN", {});
    Run("SELECT pg_advisory_xact_lock(4170002)", {});
    Run("CREATE TABLE IF NOT EXISTS replays (id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY"
        " KEY, digest TEXT NOT NULL UNIQUE, body BYTEA NOT NULL, received_at BIGINT NOT NULL,"
        " state TEXT NOT NULL DEFAULT 'queued', attempts INTEGER NOT NULL DEFAULT 0, claimed_at"
        " BIGINT, checked_by TEXT, reason TEXT, name TEXT, level INTEGER, score INTEGER, stored"
        " INTEGER, audio BYTEA)",
        {});
    Run("CREATE INDEX IF NOT EXISTS replays_queue ON replays (state, id)", {});
    Run("COMMIT", {});
  }
  ~PgReplays() override { PQfinish(conn_); }

  std::int64_t Add(const std::string& body, std::int64_t received_at) override {
    std::lock_guard lock(mutex_);
    const std::string digest = Digest(body);
    Run("INSERT INTO replays (digest, body, received_at) VALUES ($1, $2, $3)"
        " ON CONFLICT (digest) DO NOTHING",
        {Text(digest), Blob(body), Text(std::to_string(received_at))});
    return Number(Run("SELECT id FROM replays WHERE digest = $1", {Text(digest)}).at(0).at(0));
  }

  std::optional<QueuedReplay> Claim(const std::string& checker, std::int64_t now,
                                    std::int64_t stale_s) override {
    std::lock_guard lock(mutex_);
    Run("UPDATE replays SET state = 'queued' WHERE state = 'checking' AND claimed_at < $1",
        {Text(std::to_string(now - stale_s))});
    // SKIP LOCKED: a replay another server is taking at this moment is left to it, and the
    // next one taken instead; so each is checked once, however many servers share the work.
    const Rows rows =
        Run("UPDATE replays SET state = 'checking', attempts = attempts + 1, claimed_at = $1,"
            " checked_by = $2 WHERE id = (SELECT id FROM replays WHERE state = 'queued' ORDER BY id"
            " LIMIT 1 FOR UPDATE SKIP LOCKED) RETURNING id, body",
            {Text(std::to_string(now)), Text(checker)});
    if (rows.empty()) return std::nullopt;
    return QueuedReplay{Number(rows[0][0]), rows[0][1]};
  }

  void Finish(std::int64_t id, const ReplayVerdict& v) override {
    std::lock_guard lock(mutex_);
    Run("UPDATE replays SET state = $1, reason = $2, name = $3, level = $4, score = $5,"
        " stored = $6, audio = $7 WHERE id = $8",
        {Text(v.verified ? "verified" : "refused"), Text(v.reason), Text(v.name),
         Text(std::to_string(v.level)), Text(std::to_string(v.score)),
         Text(std::to_string(v.stored)), Blob(v.audio), Text(std::to_string(id))});
  }

  std::optional<ReplayRecord> Find(std::int64_t id) override {
    std::lock_guard lock(mutex_);
    const Rows rows = Run(std::string("SELECT ") + kFindColumns + " FROM replays WHERE id = $1",
                          {Text(std::to_string(id))});
    if (rows.empty()) return std::nullopt;
    const auto& r = rows[0];
    ReplayRecord record;
    record.state = r[0];
    record.verdict = {record.state == "verified",
                      r[1],
                      r[2],
                      static_cast<int>(Number(r[3])),
                      static_cast<int>(Number(r[4])),
                      static_cast<int>(Number(r[5])),
                      {}};
    record.received_at = Number(r[6]);
    record.attempts = static_cast<int>(Number(r[7]));
    record.checked_by = r[8];
    return record;
  }

  std::optional<std::string> Audio(std::int64_t id) override {
    std::lock_guard lock(mutex_);
    const Rows rows = Run("SELECT audio FROM replays WHERE id = $1 AND state = 'verified'",
                          {Text(std::to_string(id))});
    if (rows.empty()) return std::nullopt;
    return rows[0][0];
  }

  Verified VerifiedOf(int level) override {
    std::lock_guard lock(mutex_);
    Verified verified;
    for (const auto& r : Run("SELECT name, score, stored, MIN(id) FROM replays WHERE state ="
                             " 'verified' AND level = $1 GROUP BY name, score, stored",
                             {Text(std::to_string(level))})) {
      for (const std::string* score : {&r[1], &r[2]}) {
        const int n = static_cast<int>(Number(*score));
        if (n > 0) verified.emplace(std::pair{r[0], n}, Number(r[3]));
      }
    }
    return verified;
  }

 private:
  // A parameter: text, or bytes sent as binary (a replay, its audio).
  struct Param {
    std::string value;
    bool binary = false;
  };
  using Rows = std::vector<std::vector<std::string>>;
  static Param Text(const std::string& s) { return {s, false}; }
  static Param Blob(const std::string& s) { return {s, true}; }
  static std::int64_t Number(const std::string& text) { return std::atoll(text.c_str()); }

  [[noreturn]] void Fail() {
    std::string message = conn_ ? PQerrorMessage(conn_) : "out of memory";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
      message.pop_back();
    }
    throw StoreError("PostgreSQL: " + message);
  }

  // Results come as binary: bytea as its bytes; the few numbers read are cast to text.
  Rows Run(const std::string& text, const std::vector<Param>& params) {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const Param& p : params) {
      values.push_back(p.value.data());
      lengths.push_back(static_cast<int>(p.value.size()));
      formats.push_back(p.binary ? 1 : 0);
    }
    PGresult* result = PQexecParams(conn_, text.c_str(), static_cast<int>(params.size()), nullptr,
                                    values.data(), lengths.data(), formats.data(), 0);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      PQclear(result);
      Fail();
    }
    Rows rows;
    for (int i = 0; i < PQntuples(result); ++i) {
      std::vector<std::string> row;
      for (int c = 0; c < PQnfields(result); ++c) {
        std::string value(PQgetvalue(result, i, c), static_cast<size_t>(PQgetlength(result, i, c)));
        // Text results give bytea escaped as \x and hex: back to its bytes.
        if (PQftype(result, c) == 17 && value.rfind("\\x", 0) == 0) {
          size_t n = 0;
          unsigned char* bytes =
              PQunescapeBytea(reinterpret_cast<const unsigned char*>(value.c_str()), &n);
          value.assign(reinterpret_cast<char*>(bytes), n);
          PQfreemem(bytes);
        }
        row.push_back(std::move(value));
      }
      rows.push_back(std::move(row));
    }
    PQclear(result);
    return rows;
  }

  PGconn* conn_ = nullptr;
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<ReplayStore> OpenReplayStore(const std::string& where) {
  if (IsPostgresUrl(where)) return std::make_unique<PgReplays>(where);
  return std::make_unique<SqliteReplays>(where);
}

std::string Digest(const std::string& body) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(body.data(), body.size(), digest, &length, EVP_sha256(), nullptr);
  std::string hex;
  char pair[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

}  // namespace scores
