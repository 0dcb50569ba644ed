// http.h -- the score server's routes on a cpp-httplib server.
#pragma once

#include <httplib.h>

#include "store.h"

namespace scores {

// Worker threads answering requests. Each open keep-alive connection holds one, so this is
// also how many clients are served at once; the rest wait for a free worker.
inline constexpr std::size_t kWorkerThreads = 16;

// Called once, before listening, by the program and by the tests: installs the routes and the
// worker pool and connection settings. The store must outlive the server.
//   GET /scores/quorvane.php?password=&level=&score=&name=&email=   a submission: 200 stored
//       (or already stored), 400 invalid, 403 wrong password, 503 database failure
//   GET /scores/                 the leaderboard page; ?format=json the same data as JSON
//   GET /scores                  redirects to /scores/
void ConfigureServer(httplib::Server& server, ScoreStore& store);

}  // namespace scores
