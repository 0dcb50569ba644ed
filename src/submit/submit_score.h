// submit_score.h -- sending the stored high score, with its difficulty and the player's name and
// e-mail address, to the score server, and waiting for its answer by ear.
#pragma once

#include "submit/score_url.h"

namespace qv {

struct Program;

// One submission while it runs: what is sent, and whether the wait for it goes on.
struct Submission {
  ScoreReport report;        // filled from the settings store at the start
  bool SendPending = false;  // true while the wait for the transfer goes on
};

// The report as stored: the name and address as written, the level and score unscrambled.
ScoreReport ReadScoreReport(Program& pg);

// Starts the transfer and waits with "Sendwait.wav", then Timer1's ticks or the transfer's end.
// Delivered (an HTTP status 200-299): "SendGood.wav", "1" stored under "qv", ScoreSent set, and
// true (the main menu is entered afresh). No answer within 21 ticks, an error status or a failed
// transfer: "senderror.wav", nothing stored, and false (the menu's loop goes on). No key ends the
// wait. Called by the main menu's send-score item, after it has stopped the menu music.
bool SubmitScore(Program& pg);

}  // namespace qv
