// routes.cpp -- the routes: taking a submission, showing the leaderboard.
#include "routes.h"

#include <charconv>
#include <iostream>
#include <optional>

#include "page.h"
#include "platform/replay/replay_file.h"
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

Response Json(int status, std::string body) {
  Response response = Text(status, std::move(body));
  response.content_type = "application/json";
  return response;
}

constexpr std::string_view kReplays = "/scores/replays";

// A number of bytes from a Range field: digits only, no sign or space.
std::optional<std::size_t> RangeNumber(std::string_view digits) {
  std::size_t n = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return n;
}

// A game's recording, or the one part of it a Range field asks for, so that a browser's player
// knows how long the game is and can seek in it. A field it cannot read, or one asking for
// several parts, is ignored, as HTTP allows: the whole recording comes.
Response Recording(std::string ogg, std::string_view range) {
  Response response;
  response.content_type = "audio/ogg";
  // Made once, never changed.
  response.headers.emplace_back("Cache-Control", "public, max-age=31536000, immutable");
  response.headers.emplace_back("Accept-Ranges", "bytes");
  const std::size_t size = ogg.size();
  auto whole = [&] {
    response.body = std::move(ogg);
    return std::move(response);
  };
  if (!range.starts_with("bytes=") || range.find(',') != range.npos) return whole();
  range.remove_prefix(6);
  const std::size_t dash = range.find('-');
  if (dash == range.npos) return whole();
  const std::string_view from = range.substr(0, dash), to = range.substr(dash + 1);
  std::size_t first = 0, last = size == 0 ? 0 : size - 1;
  bool satisfiable = size > 0;
  if (from.empty()) {  // the last N bytes
    const std::optional<std::size_t> n = RangeNumber(to);
    if (!n) return whole();
    first = size - std::min(*n, size);
    satisfiable = satisfiable && *n > 0;
  } else {
    const std::optional<std::size_t> a = RangeNumber(from);
    const std::optional<std::size_t> b = to.empty() ? std::optional(last) : RangeNumber(to);
    if (!a || !b || (*b < *a && *a < size)) return whole();
    first = *a;
    last = std::min(*b, last);
    satisfiable = satisfiable && first < size;
  }
  if (!satisfiable) {
    response.status = 416;
    response.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
    return response;
  }
  response.status = 206;
  response.headers.emplace_back(
      "Content-Range",
      "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size));
  response.body = ogg.substr(first, last - first + 1);
  return response;
}

}  // namespace

std::size_t BodyLimit(const Request& request) {
  const std::string_view target = request.target;
  return request.method == "POST" && target.substr(0, target.find('?')) == kReplays
             ? qv::kReplayFileLimit
             : 0;
}

// How long a page may be shown again without reading the store.
constexpr auto kPageFreshness = std::chrono::seconds(1);

Routes::Routes(ScoreStore& store, ReplayStore* replays, ReplayDesk* desk, const PlayFiles* play)
    : store_(store),
      replays_(replays),
      desk_(desk),
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

std::shared_ptr<const std::string> Routes::FreshPage(PageKind kind) {
  std::lock_guard lock(pages_mutex_);
  const Page& page = pages_made_[kind];
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
  } else if (path == kReplays || path.substr(0, kReplays.size() + 1) == "/scores/replays/") {
    Replays(request, path, answer);
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
  const PageKind kind = format == "json"                                 ? kJson
                        : fields->contains("all") || replays_ == nullptr ? kAllHtml
                                                                         : kVerifiedHtml;
  Response response;
  response.content_type = kind == kJson ? "application/json" : "text/html; charset=utf-8";
  if ((response.shared_body = FreshPage(kind))) {
    answer.Send(std::move(response));
    return;
  }
  pages_.Post([this, answer, kind, response]() mutable {
    std::uint64_t stored = stored_;
    Boards boards;
    try {
      for (int level = 1; level <= 3; ++level) {
        auto& board = boards[static_cast<std::size_t>(level - 1)];
        board = store_.Best(level, kBoardLength);
        if (replays_ == nullptr) continue;
        const ReplayStore::Verified verified = replays_->VerifiedOf(level);
        for (RankedScore& entry : board) {
          auto it = verified.find({entry.name, entry.score});
          if (it != verified.end()) entry.replay = it->second;
        }
      }
    } catch (const StoreError& error) {
      std::cerr << "quorvane-scores: " << error.what() << std::endl;
      answer.Send(Unavailable());
      return;
    }
    response.shared_body = std::make_shared<const std::string>(
        kind == kJson ? RenderLeaderboardJson(boards)
                      : RenderLeaderboardHtml(boards, kind == kAllHtml));
    {
      std::lock_guard lock(pages_mutex_);
      pages_made_[kind] = Page{stored, std::chrono::steady_clock::now(), response.shared_body};
    }
    answer.Send(std::move(response));
  });
}

void Routes::Replays(const Request& request, std::string_view path, Answer answer) {
  if (desk_ == nullptr || replays_ == nullptr) {
    answer.Send(Text(404, "this server takes no replays\n"));
    return;
  }
  if (path == kReplays) {
    if (request.method != "POST") {
      answer.Send(NotAllowed("POST"));
      return;
    }
    pages_.Post([this, answer, body = request.body] {
      try {
        answer.Send(Json(202, "{\"id\":" + std::to_string(desk_->Queue(body)) + "}\n"));
      } catch (const StoreError& error) {
        std::cerr << "quorvane-scores: " << error.what() << std::endl;
        answer.Send(Unavailable());
      }
    });
    return;
  }
  // /scores/replays/N or /scores/replays/N/audio
  std::string_view rest = path.substr(kReplays.size() + 1);
  const bool audio = rest.size() > 6 && rest.substr(rest.size() - 6) == "/audio";
  if (audio) rest.remove_suffix(6);
  std::int64_t id = 0;
  auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), id);
  if (error != std::errc() || end != rest.data() + rest.size() || id <= 0) {
    answer.Send(Text(404, "not found\n"));
    return;
  }
  if (request.method != "GET" && request.method != "HEAD") {
    answer.Send(NotAllowed("GET, HEAD"));
    return;
  }
  pages_.Post([this, answer, id, audio, range = request.range] {
    try {
      if (audio) {
        std::optional<std::string> ogg = replays_->Audio(id);
        if (!ogg) {
          answer.Send(Text(404, "no verified game to listen to\n"));
          return;
        }
        answer.Send(Recording(std::move(*ogg), range));
        return;
      }
      std::optional<ReplayRecord> r = replays_->Find(id);
      if (!r) {
        answer.Send(Text(404, "no such replay\n"));
        return;
      }
      const ReplayVerdict& v = r->verdict;
      std::string json = "{\"id\":" + std::to_string(id) + ",\"state\":" + JsonString(r->state) +
                         ",\"checks\":" + std::to_string(r->attempts) +
                         ",\"checked_by\":" + JsonString(r->checked_by);
      if (r->state == "verified") {
        json += ",\"name\":" + JsonString(v.name) + ",\"difficulty\":" + std::to_string(v.level) +
                ",\"score\":" + std::to_string(v.score) + ",\"stored\":" + std::to_string(v.stored);
      } else if (r->state == "refused") {
        json += ",\"reason\":" + JsonString(v.reason);
      }
      answer.Send(Json(200, json + "}\n"));
    } catch (const StoreError& error) {
      std::cerr << "quorvane-scores: " << error.what() << std::endl;
      answer.Send(Unavailable());
    }
  });
}

}  // namespace scores
