// submit_score.cpp -- the score submission and its wait.
#include "submit/submit_score.h"

#include "core/program.h"
#include "core/window_events.h"
#include "input/keyboard.h"
#include "sound/players.h"
#include "store/high_score.h"
#include "store/settings.h"

namespace qv {

namespace {

// Timer1 ticks after which the wait gives up: 21 ticks of 500 ms, about 10.5 s.
constexpr uint8_t kSubmitTimeoutTicks = 20;

bool Delivered(int http_status) { return http_status >= 200 && http_status <= 299; }

}  // namespace

ScoreReport ReadScoreReport(Program& pg) {
  namespace s = settings;
  ScoreReport r;
  r.name = ReadSetting(pg, s::kPlayerApp, s::kPlayerSection, s::kPlayerNameKey, "");
  const StoredHighScore stored = ReadStoredHighScore(pg);
  r.level = stored.level;
  r.score = stored.score;
  r.email = ReadSetting(pg, s::kPlayerApp, s::kPlayerSection, s::kPlayerEmailKey, "");
  return r;
}

bool SubmitScore(Program& pg) {
  Submission sub;
  pg.TimerTicks = 0;
  sub.SendPending = true;
  sub.report = ReadScoreReport(pg);
  // A transfer still running from an earlier, timed-out submission is abandoned here.
  pg.transfer.StartTransfer(ScoreUrl(ScoreServerHost(), sub.report));
  pg.system.SetTimerEnabled(true);
  PlaySound(pg, "Sendwait.wav", true);  // the transfer and the timer run meanwhile
  while (sub.SendPending) {
    // Polled only to keep the latches current: no key, not even Escape, ends the wait.
    PollKeyboard(pg);
    DoEvents(pg);  // nothing of ours is due: the timer and the transfer wake the turn
    if (pg.TimerTicks > kSubmitTimeoutTicks) break;
    if (!pg.transfer.TransferExecuting()) sub.SendPending = false;
  }
  // Still pending here means the time-out; otherwise the server's answer decides.
  const bool delivered = !sub.SendPending && Delivered(pg.transfer.TransferStatus());
  if (delivered) {
    PlaySound(pg, "SendGood.wav", true);
    MarkScoreSent(pg);
  } else {
    // A time-out, an error status or a failed transfer: the same item can be tried again.
    PlaySound(pg, "senderror.wav", true);
  }
  sub.SendPending = false;
  pg.system.SetTimerEnabled(false);
  return delivered;
}

}  // namespace qv
