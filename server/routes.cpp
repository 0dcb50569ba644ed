// routes.cpp -- the routes: taking a submission, showing the leaderboard.
#include "routes.h"

#include <iostream>

#include "page.h"
#include "validate.h"

namespace scores {
namespace {

constexpr const char* kText = "text/plain; charset=utf-8";

Response Text(int status, std::string body) {
  Response response;
  response.status = status;
  response.content_type = kText;
  response.body = std::move(body);
  return response;
}

Response Unavailable() { return Text(503, "score store unavailable, try again later\n"); }

Response SubmissionReply(std::optional<bool> added) {
  if (!added) return Unavailable();
  return Text(200, *added ? "stored\n" : "already stored\n");
}

Response NotAllowed(const char* allowed) {
  Response response = Text(405, std::string("this address takes ") + allowed + "\n");
  response.headers.emplace_back("Allow", allowed);
  return response;
}

}  // namespace

// How long a page may be shown again without reading the store.
constexpr auto kPageFreshness = std::chrono::seconds(1);

Routes::Routes(ScoreStore& store, const PlayFiles* play)
    : store_(store),
      play_(play),
      writer_(
          store,
          [this](std::optional<bool> added) {
            // Before the answer goes out, so that a page asked for after it shows the score.
            if (added && *added) ++stored_;
            return SubmissionReply(added);
          },
          store.Writers()),
      pages_(kPageWorkers) {}

std::shared_ptr<const std::string> Routes::FreshPage(bool json) {
  std::lock_guard lock(pages_mutex_);
  const Page& page = json ? json_ : html_;
  if (page.body && page.stored == stored_ &&
      std::chrono::steady_clock::now() - page.made < kPageFreshness) {
    return page.body;
  }
  return nullptr;
}

void Routes::Handle(const Request& request, Answer answer) {
  std::string_view target = request.target;
  std::size_t question = target.find('?');
  std::string_view path = target.substr(0, question);
  // Still percent-encoded: validation decodes it itself, strictly, so that the UTF-8 checks see
  // exactly the bytes that were sent.
  std::string_view query = question == std::string_view::npos ? "" : target.substr(question + 1);
  bool get = request.method == "GET";
  bool get_or_head = get || request.method == "HEAD";
  if (path == "/scores/quorvane.php") {
    if (get) {
      Submit(query, answer);
    } else {
      answer.Send(NotAllowed("GET"));
    }
  } else if (path == "/scores/") {
    if (get_or_head) {
      Leaderboard(query, answer);
    } else {
      answer.Send(NotAllowed("GET, HEAD"));
    }
  } else if (path == "/scores") {
    if (get_or_head) {
      Response response = Text(301, "moved to /scores/\n");
      response.headers.emplace_back("Location", "/scores/");
      answer.Send(std::move(response));
    } else {
      answer.Send(NotAllowed("GET, HEAD"));
    }
  } else if (path == "/play" || path.starts_with("/play/")) {
    if (!get_or_head) {
      answer.Send(NotAllowed("GET, HEAD"));
    } else if (path == "/play") {
      Response response = Text(301, "moved to /play/\n");
      response.headers.emplace_back("Location", "/play/");
      answer.Send(std::move(response));
    } else {
      Play(path.substr(std::string_view("/play/").size()), request, answer);
    }
  } else {
    answer.Send(Text(404, "not found\n"));
  }
}

void Routes::Play(std::string_view path, const Request& request, Answer answer) {
  const PlayFile* file = play_ != nullptr ? play_->Find(path) : nullptr;
  if (file == nullptr) {
    answer.Send(Text(404, "not found\n"));
    return;
  }
  Response response;
  // The names stay the same from one build to the next: the browser asks again at each load,
  // and a file it already has costs a 304.
  response.headers.emplace_back("Cache-Control", "no-cache");
  response.headers.emplace_back("ETag", file->etag);
  response.headers.emplace_back("X-Content-Type-Options", "nosniff");
  if (request.if_none_match.find(file->etag) != std::string::npos || request.if_none_match == "*") {
    response.status = 304;
    answer.Send(std::move(response));
    return;
  }
  response.content_type = file->content_type;
  response.shared_body = file->body;
  answer.Send(std::move(response));
}

void Routes::Submit(std::string_view query, Answer answer) {
  Verdict verdict = CheckSubmission(query);
  if (verdict.status != 200) {
    answer.Send(Text(verdict.status, verdict.reason + "\n"));
    return;
  }
  // Answered once the batch holding it has committed, and not before.
  writer_.Add(std::move(verdict.submission), answer);
}

void Routes::Leaderboard(std::string_view query, Answer answer) {
  auto fields = ParseQuery(query);
  std::string format;
  if (fields && fields->contains("format")) format = fields->at("format");
  if (!fields || (!format.empty() && format != "html" && format != "json")) {
    answer.Send(Text(400, "format must be html or json\n"));
    return;
  }
  bool json = format == "json";
  Response response;
  response.content_type = json ? "application/json" : "text/html; charset=utf-8";
  if ((response.shared_body = FreshPage(json))) {
    answer.Send(std::move(response));
    return;
  }
  pages_.Post([this, answer, json, response]() mutable {
    std::uint64_t stored = stored_;
    Boards boards;
    try {
      for (int level = 1; level <= 3; ++level) {
        boards[static_cast<std::size_t>(level - 1)] = store_.Best(level, kBoardLength);
      }
    } catch (const StoreError& error) {
      std::cerr << "quorvane-scores: " << error.what() << std::endl;
      answer.Send(Unavailable());
      return;
    }
    response.shared_body = std::make_shared<const std::string>(
        json ? RenderLeaderboardJson(boards) : RenderLeaderboardHtml(boards));
    {
      std::lock_guard lock(pages_mutex_);
      (json ? json_ : html_) = Page{stored, std::chrono::steady_clock::now(), response.shared_body};
    }
    answer.Send(std::move(response));
  });
}

}  // namespace scores
