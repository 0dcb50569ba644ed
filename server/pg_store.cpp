// pg_store.cpp -- the shared store: PostgreSQL through libpq, for several servers on one database.
#include <libpq-fe.h>

#include <charconv>
#include <type_traits>

#include "connection_pool.h"
#include "store.h"

namespace scores {
namespace {

// The advisory lock that serialises the first starts of several servers on one database: two
// CREATE TABLE IF NOT EXISTS at once can otherwise both try to create the table.
constexpr const char* kSchemaLockKey = "4170001";

std::int64_t ToInt64(const char* text) {
  std::int64_t value = 0;
  std::string_view view(text);
  std::from_chars(view.data(), view.data() + view.size(), value);
  return value;
}

// An owned query result.
class Result {
 public:
  explicit Result(PGresult* result) : result_(result) {}
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  ~Result() { PQclear(result_); }
  ExecStatusType Status() const { return PQresultStatus(result_); }
  PGresult* get() const { return result_; }

 private:
  PGresult* result_;
};

// One connection with its statements prepared on the server. Used by one worker at a time.
class PgConnection {
 public:
  // Connects; `first` also creates the schema. The URL's own settings win over our defaults,
  // except the client encoding: every text we send and read is UTF-8.
  PgConnection(const std::string& url, bool first) {
    const char* keywords[] = {"connect_timeout", "application_name", "dbname", "client_encoding",
                              nullptr};
    const char* values[] = {"10", "quorvane-scores", url.c_str(), "UTF8", nullptr};
    conn_ = PQconnectdbParams(keywords, values, 1);
    if (conn_ == nullptr) throw StoreError("cannot connect to PostgreSQL: out of memory");
    if (PQstatus(conn_) != CONNECTION_OK) {
      std::string message = PQerrorMessage(conn_);
      PQfinish(conn_);
      throw StoreError("cannot connect to PostgreSQL: " + Trimmed(message));
    }
    // Notices ("relation already exists, skipping" at every start) are not errors; libpq would
    // print them on stderr.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    if (first) {
      Execute("BEGIN");
      Execute((std::string("SELECT pg_advisory_xact_lock(") + kSchemaLockKey + ")").c_str());
      Execute(sql::kCreateTable);
      Execute(sql::kCreateIndex);
      Execute("COMMIT");
    }
    Prepare("insert", sql::kInsert, 5);
    Prepare("best", sql::kBest, 2);
    Prepare("count", sql::kCount, 0);
  }
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;
  ~PgConnection() { PQfinish(conn_); }

  // False once the connection to the server is lost; such a connection is not reused.
  bool Healthy() const { return PQstatus(conn_) == CONNECTION_OK; }

  // All in one transaction, or none: one commit, and so one flush of PostgreSQL's log, for the
  // whole batch.
  std::vector<bool> AddAll(const std::vector<Submission>& submissions, std::int64_t received_at) {
    Command("BEGIN");
    std::vector<bool> added;
    added.reserve(submissions.size());
    try {
      for (const Submission& s : submissions) added.push_back(Add(s, received_at));
      Result result(PQexec(conn_, "COMMIT"));
      // A transaction that failed inside answers COMMIT with ROLLBACK, and no error.
      if (result.Status() != PGRES_COMMAND_OK ||
          std::string_view(PQcmdStatus(result.get())) != "COMMIT") {
        Fail();
      }
    } catch (const StoreError&) {
      if (Healthy()) Result rollback(PQexec(conn_, "ROLLBACK"));
      throw;
    }
    return added;
  }

  // One row, inside AddAll's transaction.
  bool Add(const Submission& s, std::int64_t received_at) {
    std::string level = std::to_string(s.level);
    std::string score = std::to_string(s.score);
    std::string time = std::to_string(received_at);
    const char* params[] = {level.c_str(), score.c_str(), s.name.c_str(), s.email.c_str(),
                            time.c_str()};
    Result result(PQexecPrepared(conn_, "insert", 5, params, nullptr, nullptr, 0));
    if (result.Status() != PGRES_COMMAND_OK) Fail();
    return std::string_view(PQcmdTuples(result.get())) == "1";
  }

  std::vector<RankedScore> Best(int level, int limit) {
    std::string level_text = std::to_string(level);
    std::string limit_text = std::to_string(limit);
    const char* params[] = {level_text.c_str(), limit_text.c_str()};
    Result result(PQexecPrepared(conn_, "best", 2, params, nullptr, nullptr, 0));
    if (result.Status() != PGRES_TUPLES_OK) Fail();
    std::vector<RankedScore> rows;
    int count = PQntuples(result.get());
    rows.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      RankedScore row;
      row.name.assign(PQgetvalue(result.get(), i, 0),
                      static_cast<std::size_t>(PQgetlength(result.get(), i, 0)));
      row.score = static_cast<int>(ToInt64(PQgetvalue(result.get(), i, 1)));
      row.received_at = ToInt64(PQgetvalue(result.get(), i, 2));
      rows.push_back(std::move(row));
    }
    return rows;
  }

  std::int64_t Count() {
    Result result(PQexecPrepared(conn_, "count", 0, nullptr, nullptr, nullptr, 0));
    if (result.Status() != PGRES_TUPLES_OK || PQntuples(result.get()) != 1) Fail();
    return ToInt64(PQgetvalue(result.get(), 0, 0));
  }

 private:
  static std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
  }

  [[noreturn]] void Fail() { throw StoreError("PostgreSQL: " + Trimmed(PQerrorMessage(conn_))); }

  // A statement of a transaction; unlike Execute, a failure leaves the connection to the caller.
  void Command(const char* text) {
    Result result(PQexec(conn_, text));
    if (result.Status() != PGRES_COMMAND_OK) Fail();
  }

  void Execute(const char* text) {
    Result result(PQexec(conn_, text));
    if (result.Status() != PGRES_COMMAND_OK && result.Status() != PGRES_TUPLES_OK) {
      std::string message = PQerrorMessage(conn_);
      PQfinish(conn_);
      conn_ = nullptr;
      throw StoreError("cannot set up PostgreSQL database: " + Trimmed(message));
    }
  }

  void Prepare(const char* name, const char* text, int params) {
    Result result(PQprepare(conn_, name, text, params, nullptr));
    if (result.Status() != PGRES_COMMAND_OK) {
      std::string message = PQerrorMessage(conn_);
      PQfinish(conn_);
      conn_ = nullptr;
      throw StoreError("cannot prepare PostgreSQL statements: " + Trimmed(message));
    }
  }

  PGconn* conn_ = nullptr;
};

class PgStore : public ScoreStore {
 public:
  explicit PgStore(const std::string& url)
      : pool_([url] { return std::make_unique<PgConnection>(url, false); }) {
    pool_.Keep(std::make_unique<PgConnection>(url, true));
  }

  std::vector<bool> AddAll(const std::vector<Submission>& submissions,
                           std::int64_t received_at) override {
    return WithConnection([&](PgConnection& c) { return c.AddAll(submissions, received_at); });
  }

  std::vector<RankedScore> Best(int level, int limit) override {
    return WithConnection([&](PgConnection& c) { return c.Best(level, limit); });
  }

  std::int64_t Count() override {
    return WithConnection([](PgConnection& c) { return c.Count(); });
  }

 private:
  // Runs one call, and runs it once more on a new connection when the first one turns out to
  // be broken (the database restarted since it was opened). Repeating is safe: reads change
  // nothing, and a repeated batch meets the unique constraint and stores nothing twice (should
  // the first attempt have committed before the connection broke, its rows read as already
  // stored, which they are).
  template <class Call>
  std::invoke_result_t<Call, PgConnection&> WithConnection(Call call) {
    for (int attempt = 1;; ++attempt) {
      auto connection = pool_.Take();
      try {
        return call(*connection);
      } catch (const StoreError&) {
        if (connection->Healthy()) throw;
        connection.Discard();
        pool_.DiscardIdle();
        if (attempt == 2) throw;
      }
    }
  }

  ConnectionPool<PgConnection> pool_;
};

}  // namespace

std::unique_ptr<ScoreStore> OpenPgStore(const std::string& url) {
  return std::make_unique<PgStore>(url);
}

}  // namespace scores
