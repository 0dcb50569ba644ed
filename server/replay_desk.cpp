// replay_desk.cpp -- checking posted replays, and their listening copies.
#include "replay_desk.h"

#include <opus/opusenc.h>

#include <chrono>
#include <iostream>

#include "platform/replay/replay_file.h"
#include "platform/replay/replay_platform.h"
#include "startup/replays.h"

namespace scores {
namespace {

// Opus takes 48 kHz: the render mixes at it, so nothing is resampled.
constexpr uint32_t kAudioRate = 48000;
// Speech, effects and music, in stereo for their sides: 64 kbit/s is more than Opus needs.
constexpr int kAudioBitrate = 64000;
// Opus's effort, 0 to 10: encoding is most of a listening copy's cost (at the default 10 more
// than the mixing and the game together); 1 keeps a five-minute game under two seconds of CPU
// and still sounds clean at this rate.
constexpr int kAudioComplexity = 1;
// A replay taken by a server that stopped before finishing is taken again after this long.
constexpr std::int64_t kStaleSeconds = 600;
// How often an idle checker looks at the queue: other servers on the database queue too.
constexpr auto kPollEvery = std::chrono::seconds(1);

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The game as heard, through the game's mixer, encoded as it is mixed.
std::string ListeningCopy(const qv::Replay& replay, const ReplayDeskOptions& options) {
  int error = 0;
  OggOpusComments* comments = ope_comments_create();
  ope_comments_add(comments, "TITLE", ("QuorVane: " + replay.player).c_str());
  OggOpusEnc* encoder = ope_encoder_create_pull(comments, kAudioRate, 2, 0, &error);
  ope_comments_destroy(comments);
  if (encoder == nullptr) throw std::runtime_error("cannot encode Opus");
  ope_encoder_ctl(encoder, OPUS_SET_BITRATE(kAudioBitrate));
  ope_encoder_ctl(encoder, OPUS_SET_COMPLEXITY(kAudioComplexity));
  std::string ogg;
  auto take_pages = [&](int flush) {
    unsigned char* page = nullptr;
    opus_int32 length = 0;
    while (ope_encoder_get_page(encoder, &page, &length, flush) != 0) {
      ogg.append(reinterpret_cast<const char*>(page), static_cast<size_t>(length));
    }
  };
  qv::ReplayPlatform machine(replay, {options.sounds_dir, options.cpu_budget_s, options.max_ms});
  const auto render = qv::RenderReplay(
      machine, replay, options.sounds_dir,
      [&](const std::vector<std::vector<float>>& stems, size_t frames) {
        ope_encoder_write_float(encoder, stems[0].data(), static_cast<int>(frames));
        take_pages(0);
      },
      kAudioRate);
  try {
    qv::RunReplay(replay, machine);
    render->AdvanceTo(machine.Now() - replay.start_ms);
  } catch (...) {
    ope_encoder_destroy(encoder);
    throw;
  }
  ope_encoder_drain(encoder);
  take_pages(1);
  ope_encoder_destroy(encoder);
  return ogg;
}

}  // namespace

ReplayVerdict CheckReplay(const std::string& body, const ReplayDeskOptions& options, bool render) {
  ReplayVerdict verdict;
  try {
    const qv::Replay replay = qv::DecodeReplay(body, QV_VERSION);
    if (replay.kind != qv::ReplayKind::Game) {
      verdict.reason = "A bonus round's replay verifies no score.";
      return verdict;
    }
    qv::ReplayPlatform machine(replay, {options.sounds_dir, options.cpu_budget_s, options.max_ms});
    const qv::ReplayOutcome outcome = qv::RunReplay(replay, machine);
    verdict.name = replay.player;
    verdict.level = outcome.difficulty;
    verdict.score = outcome.score;
    verdict.stored = outcome.stored;
    if (render) verdict.audio = ListeningCopy(replay, options);
    verdict.verified = true;
  } catch (const qv::ReplayError& e) {
    verdict.reason = e.what();
  } catch (const qv::ReplayRefused& e) {
    verdict.reason = e.reason;
  } catch (const std::exception& e) {
    verdict.reason = std::string("The replay could not be checked: ") + e.what();
  }
  return verdict;
}

ReplayDesk::ReplayDesk(ReplayStore& store, ReplayDeskOptions options)
    : store_(store), options_(std::move(options)) {
  for (int i = 0; i < options_.checkers; ++i) threads_.emplace_back([this] { Check(); });
}

ReplayDesk::~ReplayDesk() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

std::int64_t ReplayDesk::Queue(const std::string& body) {
  const std::int64_t id = store_.Add(body, Now());
  wake_.notify_one();
  return id;
}

void ReplayDesk::Check() {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (ending_) return;
    }
    std::optional<QueuedReplay> replay;
    try {
      replay = store_.Claim(options_.name, Now(), kStaleSeconds);
      if (replay) store_.Finish(replay->id, CheckReplay(replay->body, options_));
    } catch (const StoreError& error) {
      std::cerr << "quorvane-scores: replays: " << error.what() << std::endl;
      replay.reset();
    }
    if (replay) continue;  // more may wait
    std::unique_lock lock(mutex_);
    if (!ending_) wake_.wait_for(lock, kPollEvery);
  }
}

}  // namespace scores
