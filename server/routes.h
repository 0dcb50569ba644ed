// routes.h -- the score server's answers: taking a submission, showing the leaderboard.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "http_server.h"
#include "play_files.h"
#include "replay_desk.h"
#include "replay_store.h"
#include "store.h"
#include "workers.h"

namespace scores {

// Threads that build leaderboard pages; both databases let reads run side by side.
inline constexpr int kPageWorkers = 4;

// The routes on a store:
//   GET /scores/quorvane.php?password=&level=&score=&name=&email=   a submission: 200 stored
//       (or already stored), 400 invalid, 403 wrong password, 503 database failure. Only GET:
//       a HEAD must change nothing, and answering it as if stored would be a lie, so it is 405.
//   GET or HEAD /scores/         the leaderboard page (verified scores; ?all=1 every score);
//                                ?format=json every score as JSON, each marked verified or not
//   GET or HEAD /scores          redirects to /scores/
//   POST /scores/replays         a game's replay (at most a replay file's limit): 202 with
//                                {"id": N} once queued to be checked; 503 database failure
//   GET or HEAD /scores/replays/N         what came of checking replay N, as JSON
//   GET or HEAD /scores/replays/N/audio   a verified replay's game as heard, Ogg Opus
// The replays' addresses answer 404 when the server checks no replays (no desk).
//   GET or HEAD /play/...        the browser version's files (PlayFiles), revalidated at each
//       load (no-cache, with an entity tag: 304 when If-None-Match has it); /play redirects
// Anything else is 404, or 405 for another method on those paths.
// Made before the server runs and destroyed after it stops: the destructor waits for the
// writer and the page threads, which send their answers through the server.
// The body a request may carry (HttpOptions::body_limit): a replay file's own limit for a
// posted replay; none otherwise.
std::size_t BodyLimit(const Request& request);

class Routes {
 public:
  // replays and desk: where replays are kept and who checks them; null for a server that takes
  // no replays. play: the browser version's files, or null when they are not served.
  explicit Routes(ScoreStore& store, ReplayStore* replays = nullptr, ReplayDesk* desk = nullptr,
                  const PlayFiles* play = nullptr);

  // Called by HttpServer on its thread for every request. It never waits on the store: a
  // submission goes to the writer, a page to a page thread, and they answer.
  void Handle(const Request& request, Answer answer);
  // Called by HttpServer on its thread after each pass that called Handle: the submissions it
  // took go to the store together.
  void AfterPass() { writer_.Release(); }

 private:
  void Submit(std::string_view query, Answer answer);
  void Leaderboard(std::string_view query, Answer answer);
  void Replays(const Request& request, std::string_view path, Answer answer);
  void Play(std::string_view path, const Request& request, Answer answer);

  // The last page made in each format, shared by every answer until a submission is stored
  // here or it is a second old (other servers may write to a shared PostgreSQL): a thousand
  // clients asking at once cost one page, in time and in memory.
  struct Page {
    std::uint64_t stored = 0;  // stored_ when it was read from the store
    std::chrono::steady_clock::time_point made;
    std::shared_ptr<const std::string> body;
  };
  enum PageKind { kVerifiedHtml, kAllHtml, kJson, kPageKinds };
  std::shared_ptr<const std::string> FreshPage(PageKind kind);

  ScoreStore& store_;
  ReplayStore* replays_;
  ReplayDesk* desk_;
  const PlayFiles* play_;
  std::atomic<std::uint64_t> stored_ = 0;  // submissions stored by this server so far
  std::mutex pages_mutex_;
  Page pages_made_[kPageKinds];
  BatchWriter writer_;
  TaskPool pages_;
};

}  // namespace scores
