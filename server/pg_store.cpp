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

  // False once the connection to the server is lost, or left in a state not worth mending;
  // such a connection is not reused.
  bool Healthy() const { return !broken_ && PQstatus(conn_) == CONNECTION_OK; }

  // All in one transaction, or none, sent in one go (libpq's pipeline mode): the batch costs
  // one round trip and one flush of PostgreSQL's log, however many it holds.
  std::vector<bool> AddAll(const std::vector<Submission>& submissions, std::int64_t received_at) {
    // Any failure leaves the connection in a state not worth mending: it is not used again.
    broken_ = true;
    if (PQenterPipelineMode(conn_) != 1) Fail();
    const std::string time = std::to_string(received_at);
    bool sent = PQsendQueryParams(conn_, "BEGIN", 0, nullptr, nullptr, nullptr, nullptr, 0);
    for (const Submission& s : submissions) {
      const std::string level = std::to_string(s.level);
      const std::string score = std::to_string(s.score);
      const char* params[] = {level.c_str(), score.c_str(), s.name.c_str(), s.email.c_str(),
                              time.c_str()};
      sent = sent && PQsendQueryPrepared(conn_, "insert", 5, params, nullptr, nullptr, 0);
    }
    sent = sent && PQsendQueryParams(conn_, "COMMIT", 0, nullptr, nullptr, nullptr, nullptr, 0) &&
           PQpipelineSync(conn_);
    if (!sent) Fail();

    // Each statement's result comes followed by a null, then the sync's own. After a failure
    // PostgreSQL skips the rest (PGRES_PIPELINE_ABORTED) and leaves the transaction aborted.
    std::vector<bool> added;
    added.reserve(submissions.size());
    std::string failure;
    for (std::size_t i = 0; i < submissions.size() + 2; ++i) {
      Result result(PQgetResult(conn_));
      if (result.get() == nullptr) Fail();
      bool insert = i > 0 && i <= submissions.size();
      if (result.Status() != PGRES_COMMAND_OK) {
        if (failure.empty()) failure = Trimmed(PQresultErrorMessage(result.get()));
        if (failure.empty()) failure = "a statement failed";
      } else if (insert) {
        added.push_back(std::string_view(PQcmdTuples(result.get())) == "1");
      } else if (i > 0 && std::string_view(PQcmdStatus(result.get())) != "COMMIT") {
        failure = "the transaction was rolled back";
      }
      Result end(PQgetResult(conn_));
    }
    Result sync(PQgetResult(conn_));
    if (sync.Status() != PGRES_PIPELINE_SYNC || PQexitPipelineMode(conn_) != 1) Fail();
    if (!failure.empty()) {
      Result rollback(PQexec(conn_, "ROLLBACK"));
      if (rollback.Status() == PGRES_COMMAND_OK) broken_ = false;
      throw StoreError("PostgreSQL: " + failure);
    }
    broken_ = false;
    return added;
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
  bool broken_ = false;
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

  // While one batch waits for its commit to be flushed, others are sent.
  int Writers() const override { return 4; }

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
