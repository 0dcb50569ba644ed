// submit_score.h -- sending the stored high score, with its difficulty and the player's name and
// e-mail address, to the score server, and waiting for its answer by ear.
#pragma once

#include "core/window_events.h"
#include "input/keyboard.h"
#include "platform/transfer.h"
#include "sound/audio.h"
#include "store/replay_archive.h"
#include "store/settings.h"
#include "submit/score_url.h"

namespace qv {

// The submission layer's own object: what a submission uses below it.
struct ScoreSender {
  Window& window;      // Timer1, and the turns of the wait
  Keyboard& keyboard;  // polled through the wait to keep the latches current
  Audio& audio;        // the wait's sounds
  Settings& settings;  // what is sent, and the sent marker
  Transfer& transfer;  // the HTTP request
  // The replays kept, whose best game's replay follows a delivered score; null: none is sent.
  const ReplayArchive* replays = nullptr;
};

// The report as stored: the name and address as written, the level and score unscrambled.
ScoreReport ReadScoreReport(Settings& settings);

// Starts the transfer and waits with "Sendwait.wav", then Timer1's ticks or the transfer's end.
// Delivered (an HTTP status 200-299): the replay of the best game starts on its way (POST, left
// to run while the game goes on: a server that does not know replays, or any failure of it,
// changes nothing), "SendGood.wav", "1" stored under "qv", ScoreSent set, and true (the main
// menu is entered afresh). No answer within 21 ticks, an
// error status or a failed transfer: "senderror.wav", nothing stored, and false (the menu's loop
// goes on). No key ends the wait. Called by the main menu's send-score item, after it has
// stopped the menu music.
bool SubmitScore(ScoreSender& sender);

}  // namespace qv
