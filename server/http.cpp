// http.cpp -- the routes: taking a submission, showing the leaderboard.
#include "http.h"

#include <chrono>
#include <iostream>

#include "page.h"
#include "validate.h"

namespace scores {
namespace {

constexpr const char* kText = "text/plain; charset=utf-8";

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The raw query of the request, still percent-encoded: validation decodes it itself, strictly,
// so that the UTF-8 checks see exactly the bytes that were sent.
std::string_view RawQuery(const httplib::Request& request) {
  std::string_view target = request.target;
  std::size_t question = target.find('?');
  return question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
}

void Unavailable(httplib::Response& response, const StoreError& error) {
  std::cerr << "quorvane-scores: " << error.what() << std::endl;
  response.status = 503;
  response.set_content("score store unavailable, try again later\n", kText);
}

void Submit(ScoreStore& store, const httplib::Request& request, httplib::Response& response) {
  Verdict verdict = CheckSubmission(RawQuery(request));
  if (verdict.status != 200) {
    response.status = verdict.status;
    response.set_content(verdict.reason + "\n", kText);
    return;
  }
  try {
    bool added = store.Add(verdict.submission, Now());
    response.status = 200;
    response.set_content(added ? "stored\n" : "already stored\n", kText);
  } catch (const StoreError& error) {
    Unavailable(response, error);
  }
}

void Leaderboard(ScoreStore& store, const httplib::Request& request, httplib::Response& response) {
  std::string format = request.get_param_value("format");
  if (!format.empty() && format != "html" && format != "json") {
    response.status = 400;
    response.set_content("format must be html or json\n", kText);
    return;
  }
  Boards boards;
  try {
    for (int level = 1; level <= 3; ++level) {
      boards[static_cast<std::size_t>(level - 1)] = store.Best(level, kBoardLength);
    }
  } catch (const StoreError& error) {
    Unavailable(response, error);
    return;
  }
  if (format == "json") {
    response.set_content(RenderLeaderboardJson(boards), "application/json");
  } else {
    response.set_content(RenderLeaderboardHtml(boards), "text/html; charset=utf-8");
  }
}

}  // namespace

void ConfigureServer(httplib::Server& server, ScoreStore& store) {
  server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  // Keep-alive saves a connection per request for a busy client; the short idle time frees the
  // worker soon after, and bounds how long a stop waits for idle connections to close.
  server.set_keep_alive_max_count(1000);
  server.set_keep_alive_timeout(1);
  server.set_payload_max_length(64 * 1024);
  // An answer goes out in more than one write; without this, Nagle's algorithm holds the
  // second back until the client's delayed acknowledgement, some 40 ms per request.
  server.set_tcp_nodelay(true);
  // httplib's default sets SO_REUSEPORT, which lets a second server bind the same port and
  // silently share its connections. SO_REUSEADDR alone still allows a quick restart while old
  // connections linger in TIME_WAIT, and a port in use is an error at start.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });

  server.Get(R"(/scores/quorvane\.php)",
             [&store](const httplib::Request& request, httplib::Response& response) {
               Submit(store, request, response);
             });
  server.Get("/scores/", [&store](const httplib::Request& request, httplib::Response& response) {
    Leaderboard(store, request, response);
  });
  server.Get("/scores", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/scores/", 301);
  });
}

}  // namespace scores
