// submit_score.cpp -- the score submission and its wait.
#include "submit/submit_score.h"

#include <optional>

#include "sound/players.h"
#include "store/high_score.h"

namespace qv {

namespace {

// The wait gives up once Timer1 has ticked more than this: at the 21st tick of 500 ms, about
// 10.5 s after it began.
constexpr uint8_t kSubmitTimeoutTicks = 20;

bool Delivered(int http_status) { return http_status >= 200 && http_status <= 299; }

}  // namespace

ScoreReport ReadScoreReport(Settings& settings) {
  namespace s = setting_names;
  ScoreReport r;
  r.name = ReadSetting(settings, s::kPlayerApp, s::kPlayerSection, s::kPlayerNameKey, "");
  const StoredHighScore stored = ReadStoredHighScore(settings);
  r.level = stored.level;
  r.score = stored.score;
  r.email = ReadSetting(settings, s::kPlayerApp, s::kPlayerSection, s::kPlayerEmailKey, "");
  return r;
}

bool SubmitScore(ScoreSender& sender) {
  sender.window.TimerTicks = 0;
  // A transfer still running from an earlier, timed-out submission is abandoned here.
  sender.transfer.StartTransfer(ScoreUrl(ScoreServerHost(), ReadScoreReport(sender.settings)), {});
  sender.window.system.SetTimerEnabled(true);
  PlaySound(sender.audio, "Sendwait.wav", true);  // the transfer and the timer run meanwhile
  bool answered = false;
  while (!answered) {
    // Polled only to keep the latches current: no key, not even Escape, ends the wait.
    PollKeyboard(sender.keyboard);
    DoEvents(sender.window);  // nothing of ours is due: the timer and the transfer wake the turn
    if (sender.window.TimerTicks > kSubmitTimeoutTicks) break;
    answered = !sender.transfer.TransferExecuting();
  }
  // Not answered here means the time-out; otherwise the server's answer decides.
  const bool delivered = answered && Delivered(sender.transfer.TransferStatus());
  if (delivered) {
    // Sent with the score it was made with, as the server takes it; old servers do not know it,
    // which is no failure: the score counts as sent either way.
    if (sender.replays != nullptr) {
      if (std::optional<std::string> replay = sender.replays->Best()) {
        sender.transfer.StartTransfer(ReplayUrl(ScoreServerHost()), *replay);
      }
    }
    PlaySound(sender.audio, "SendGood.wav", true);
    MarkScoreSent(sender.settings);
  } else {
    // A time-out, an error status or a failed transfer: the same item can be tried again.
    PlaySound(sender.audio, "senderror.wav", true);
  }
  sender.window.system.SetTimerEnabled(false);
  return delivered;
}

}  // namespace qv
