// score_server_test.cpp -- submissions and the leaderboard through a real server on loopback,
// the same cases on SQLite and on PostgreSQL.
#include <gtest/gtest.h>

#include <chrono>

#include "support.h"

namespace scores::test {
namespace {

enum class Backend { kSqlite, kPostgres };

// One cluster for every PostgreSQL case of this process, started on first use. A failure to
// start it is kept, so each case reports it instead of trying again.
struct SharedCluster {
  std::unique_ptr<PgCluster> cluster;
  std::string failure;
};

SharedCluster& Cluster() {
  static SharedCluster shared = [] {
    SharedCluster result;
    try {
      result.cluster = std::make_unique<PgCluster>();
    } catch (const std::exception& error) {
      result.failure = error.what();
    }
    return result;
  }();
  return shared;
}

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

class ScoreServerTest : public testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::kSqlite) {
      where_ = dir_.path() / "scores.db";
    } else {
      ASSERT_TRUE(Cluster().cluster) << Cluster().failure;
      where_ = Cluster().cluster->NewDatabase();
    }
    store_ = OpenStore(where_);
    server_ = std::make_unique<RunningServer>(*store_);
  }

  Reply Get(const std::string& path) { return server_->Get(path); }

  Reply Submit(int level, const std::string& score, const std::string& name = "",
               const std::string& email = "") {
    return Get(SubmissionPath(level, score, name, email));
  }

  // The table as the database holds it, read past the store.
  std::vector<StoredRow> Rows() {
    if (GetParam() == Backend::kSqlite) return SqliteRows(where_);
    return Cluster().cluster->Rows(where_);
  }

  void Execute(const std::string& statement) {
    if (GetParam() == Backend::kSqlite) {
      SqliteExecute(where_, statement);
    } else {
      Cluster().cluster->Execute(where_, statement);
    }
  }

  TempDir dir_;
  std::string where_;
  std::unique_ptr<ScoreStore> store_;
  std::unique_ptr<RunningServer> server_;
};

TEST_P(ScoreServerTest, StoresAValidSubmissionDecodedWithItsArrivalTime) {
  std::int64_t before = Now();
  Reply reply = Submit(2, "1500", "Zoë Ångström & C++", "zoe@example.org");
  std::int64_t after = Now();
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "stored\n");
  // Name and e-mail may be left out; the limits themselves are allowed, and 64 characters of
  // two bytes each are still 64 characters.
  EXPECT_EQ(Get("/scores/quorvane.php?password=417bqwtn58&level=1&score=0").status, 200);
  EXPECT_EQ(Submit(3, "10000000", Repeat("é", 64), Repeat("x", 64)).status, 200);

  auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].level, 1);
  EXPECT_EQ(rows[0].score, 0);
  EXPECT_EQ(rows[0].name, "");
  EXPECT_EQ(rows[0].email, "");
  EXPECT_EQ(rows[1].level, 2);
  EXPECT_EQ(rows[1].score, 1500);
  EXPECT_EQ(rows[1].name, "Zoë Ångström & C++");
  EXPECT_EQ(rows[1].email, "zoe@example.org");
  EXPECT_GE(rows[1].received_at, before);
  EXPECT_LE(rows[1].received_at, after);
  EXPECT_EQ(rows[2].score, 10000000);
  EXPECT_EQ(rows[2].name, Repeat("é", 64));
  EXPECT_EQ(store_->Count(), 3);
}

TEST_P(ScoreServerTest, RefusesAWrongOrMissingPasswordWith403) {
  for (const std::string query :
       {"password=417BQWTN58&level=1&score=5", "password=&level=1&score=5", "level=1&score=5",
        "password=417bqwtn58x&level=1&score=5",
        // A wrong password wins over other faults.
        "password=nope&level=9&score=x"}) {
    SCOPED_TRACE(query);
    EXPECT_EQ(Get("/scores/quorvane.php?" + query).status, 403);
  }
  EXPECT_TRUE(Rows().empty());
}

TEST_P(ScoreServerTest, RefusesInvalidSubmissionsWith400AndStoresNothing) {
  const std::string good_level = "&level=1";
  const std::string good_score = "&score=100";
  const std::string cases[] = {
      // level
      "&level=0" + good_score, "&level=4" + good_score, "&level=a" + good_score,
      "&level=" + good_score, "&level=-1" + good_score, good_score,
      // score
      good_level + "&score=-1", good_level + "&score=10000001", good_level + "&score=1.5",
      good_level + "&score=1e3", good_level + "&score=%201",
      good_level + "&score=", good_level + "&score=99999999999999999999999", good_level,
      // name and e-mail: too long, or failing the UTF-8 rules (which have their own tests) once
      // decoded
      good_level + good_score + "&name=" + Repeat("a", 65),
      good_level + good_score + "&name=" + Encode(Repeat("é", 65)),
      good_level + good_score + "&email=" + Repeat("b", 65),
      good_level + good_score + "&name=%C0%AF", good_level + good_score + "&name=a%0Ab",
      good_level + good_score + "&email=%C2%85",
      // the query itself: a broken escape, a key given twice
      good_level + good_score + "&name=%zz", good_level + good_score + "&score=200"};
  for (const auto& rest : cases) {
    SCOPED_TRACE(rest);
    EXPECT_EQ(Get("/scores/quorvane.php?password=417bqwtn58" + rest).status, 400);
  }
  EXPECT_TRUE(Rows().empty());
}

TEST_P(ScoreServerTest, StoresARepeatedSubmissionOnce) {
  EXPECT_EQ(Submit(1, "700", "Ann", "ann@example.org").body, "stored\n");
  Reply again = Submit(1, "700", "Ann", "ann@example.org");
  EXPECT_EQ(again.status, 200);
  EXPECT_EQ(again.body, "already stored\n");
  // Any one field different is another submission.
  EXPECT_EQ(Submit(2, "700", "Ann", "ann@example.org").body, "stored\n");
  EXPECT_EQ(Submit(1, "701", "Ann", "ann@example.org").body, "stored\n");
  EXPECT_EQ(Submit(1, "700", "ann", "ann@example.org").body, "stored\n");
  EXPECT_EQ(Submit(1, "700", "Ann", "").body, "stored\n");
  EXPECT_EQ(Rows().size(), 5u);
}

TEST_P(ScoreServerTest, KeepsHostileNamesVerbatimAndShowsThemOnlyAsText) {
  const std::string script = "<script>alert(1)</script>";
  const std::string injection = "x'); DROP TABLE scores; --";
  const std::string quotes = "\"Bob\" & 'Al' \\ </td>";
  ASSERT_EQ(Submit(1, "300", script, "secret-one@example.org").status, 200);
  ASSERT_EQ(Submit(1, "200", injection, "secret-two@example.org").status, 200);
  ASSERT_EQ(Submit(1, "100", quotes, "secret-three@example.org").status, 200);

  auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].name, quotes);
  EXPECT_EQ(rows[1].name, injection);
  EXPECT_EQ(rows[2].name, script);

  Reply page = Get("/scores/");
  ASSERT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page.body.find("x&#39;); DROP TABLE scores; --"), std::string::npos);
  EXPECT_NE(page.body.find("&quot;Bob&quot; &amp; &#39;Al&#39; \\ &lt;/td&gt;"), std::string::npos);
  EXPECT_EQ(page.body.find(script), std::string::npos);
  EXPECT_EQ(page.body.find("<script"), std::string::npos);
  EXPECT_EQ(page.body.find("secret-"), std::string::npos);
  EXPECT_EQ(page.body.find("@example.org"), std::string::npos);

  Reply json = Get("/scores/?format=json");
  ASSERT_EQ(json.status, 200);
  EXPECT_NE(json.body.find(R"("name":"\u003cscript\u003ealert(1)\u003c/script\u003e")"),
            std::string::npos);
  EXPECT_NE(json.body.find(R"("name":"x'); DROP TABLE scores; --")"), std::string::npos);
  EXPECT_NE(json.body.find(R"("name":"\"Bob\" \u0026 'Al' \\ \u003c/td\u003e")"),
            std::string::npos);
  EXPECT_EQ(json.body.find("secret-"), std::string::npos);
  EXPECT_EQ(json.body.find("email"), std::string::npos);
}

TEST_P(ScoreServerTest, ShowsTheBestHundredOfEachDifficultyInTables) {
  for (int score = 0; score <= 104; ++score) {
    ASSERT_EQ(Submit(2, std::to_string(score), "p" + std::to_string(score)).status, 200);
  }
  ASSERT_EQ(Submit(1, "42", "solo").status, 200);

  Reply json = Get("/scores/?format=json");
  ASSERT_EQ(json.status, 200);
  EXPECT_NE(json.body.find(R"({"level":1,"name":"Easy","scores":[{"rank":1,"name":"solo",)"
                           R"("score":42,"date":")"),
            std::string::npos);
  EXPECT_NE(json.body.find(R"({"level":2,"name":"Medium","scores":[{"rank":1,"name":"p104",)"),
            std::string::npos);
  EXPECT_NE(json.body.find(R"({"rank":100,"name":"p5","score":5,)"), std::string::npos);
  EXPECT_EQ(json.body.find(R"("name":"p4")"), std::string::npos);
  EXPECT_NE(json.body.find(R"({"level":3,"name":"Hard","scores":[]})"), std::string::npos);

  Reply page = Get("/scores/");
  ASSERT_EQ(page.status, 200);
  const std::string& html = page.body;
  EXPECT_NE(html.find("<html lang=\"en\">"), std::string::npos);
  EXPECT_NE(html.find("<title>"), std::string::npos);
  EXPECT_EQ(Occurrences(html, "<h1>"), 1u);
  EXPECT_EQ(Occurrences(html, "<h2"), 3u);
  EXPECT_EQ(Occurrences(html, "<table>"), 3u);
  EXPECT_EQ(Occurrences(html, "<caption>"), 3u);
  EXPECT_EQ(Occurrences(html, "<th scope=\"col\">"), 15u);  // rank, name, score, date, game
  EXPECT_NE(html.find("Difficulty 1: Easy"), std::string::npos);
  EXPECT_NE(html.find("Difficulty 2: Medium"), std::string::npos);
  EXPECT_NE(html.find("Difficulty 3: Hard"), std::string::npos);
  // One row for "solo", a hundred on difficulty 2, and the empty table says so.
  EXPECT_EQ(Occurrences(html, "<tr><td>"), 101u);
  EXPECT_NE(html.find("<tr><td>1</td><td>p104</td><td>104</td>"), std::string::npos);
  EXPECT_NE(html.find("<tr><td>100</td><td>p5</td><td>5</td>"), std::string::npos);
  EXPECT_NE(html.find("No scores yet."), std::string::npos);
  EXPECT_EQ(Get("/scores/?format=xml").status, 400);
}

TEST_P(ScoreServerTest, AnswersServiceUnavailableWhileTheDatabaseFails) {
  ASSERT_EQ(Submit(1, "10", "Ann").status, 200);
  Execute("DROP TABLE scores");
  EXPECT_EQ(Submit(1, "20", "Ann").status, 503);
  EXPECT_EQ(Get("/scores/").status, 503);
  EXPECT_EQ(Get("/scores/?format=json").status, 503);
  // Still serving: checks that need no database answer as before.
  EXPECT_EQ(Submit(1, "-5", "Ann").status, 400);
}

INSTANTIATE_TEST_SUITE_P(Sqlite, ScoreServerTest, testing::Values(Backend::kSqlite));
INSTANTIATE_TEST_SUITE_P(Postgres, ScoreServerTest, testing::Values(Backend::kPostgres));

// The database file, its WAL and its shared-memory file deleted under a running server: it
// acknowledges nothing more, so nothing acknowledged is lost, and makes no file of its own; the
// next start makes a fresh one.
TEST(SqliteFile, AnswersUnavailableOnceItsFileIsDeletedAndMakesNoOther) {
  TempDir dir;
  const std::string path = dir.path() / "scores.db";
  {
    auto store = OpenStore(path);
    RunningServer server(*store);
    ASSERT_EQ(server.Get(SubmissionPath(1, "10", "before", "")).status, 200);
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(server.Get(SubmissionPath(1, std::to_string(i), "after", "")).status, 503) << i;
    }
    EXPECT_EQ(server.Get("/scores/").status, 503);
    EXPECT_FALSE(std::filesystem::exists(path));
  }
  EXPECT_NO_THROW(OpenStore(path));
}

TEST(PostgresRecovery, ServesAgainOnceTheDatabaseIsBack) {
  ASSERT_TRUE(Cluster().cluster) << Cluster().failure;
  PgCluster& cluster = *Cluster().cluster;
  std::string url = cluster.NewDatabase();
  auto store = OpenStore(url);
  RunningServer server(*store);
  ASSERT_EQ(server.Get(SubmissionPath(1, "10", "Ann", "")).status, 200);

  // A restart between two requests cuts the pooled connection; the next request notices and
  // goes through on a new one.
  cluster.Stop();
  cluster.Start();
  EXPECT_EQ(server.Get(SubmissionPath(1, "20", "Ann", "")).status, 200);

  cluster.Stop();
  Reply while_down = server.Get(SubmissionPath(1, "30", "Ann", ""));
  Reply page_while_down = server.Get("/scores/");
  cluster.Start();
  EXPECT_EQ(while_down.status, 503);
  EXPECT_EQ(page_while_down.status, 503);
  EXPECT_EQ(server.Get(SubmissionPath(1, "40", "Ann", "")).status, 200);
  EXPECT_EQ(server.Get("/scores/").status, 200);
  EXPECT_EQ(cluster.Rows(url).size(), 3u);
}

}  // namespace
}  // namespace scores::test
