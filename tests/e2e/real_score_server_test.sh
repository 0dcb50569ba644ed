#!/bin/bash
# real_score_server_test.sh -- the real game sends its stored high score to a real score server
# on 127.0.0.1: the sound log shows "SendGood.wav", the server has exactly that score, with the
# player's name from the settings file, and its leaderboard shows it (the address never).
# Usage: real_score_server_test.sh QUORVANE QUORVANE_SIM SOURCE_DIR
set -u
PROGRAM=$1
SOURCE_DIR=$3
SCORES="$(dirname "$PROGRAM")/server/quorvane-scores"
. "$(dirname "$0")/real_lib.sh"

[ -x "$SCORES" ] || fail "no score server at $SCORES (built with -DQV_SERVER=ON)"
start_x
"$SCORES" --listen 127.0.0.1:0 --db "$WORK/scores.db" >"$WORK/scores.out" 2>&1 &
SERVER=$!
QV_PIDS+=("$SERVER")
for i in $(seq 100); do grep -q "listening on" "$WORK/scores.out" && break; sleep 0.05; done
ADDRESS=$(sed -n 's/.*listening on \([0-9.]*:[0-9]*\).*/\1/p' "$WORK/scores.out")
[ -n "$ADDRESS" ] || fail "the score server did not start: $(cat "$WORK/scores.out")"

stage_program "$PROGRAM" "$SOURCE_DIR" sender
mkdir -p "$WORK/sender/config/quorvane"
# 1500 at difficulty 2, scrambled as the game stores them (key digits 3 and 5).
cat >"$WORK/sender/config/quorvane/settings.ini" <<'INI'
[QuorVane/Settings]
HighScore=3438303333
Difficulty=3725502525
[Quorvane/reg]
pname=Ann <O'Neil> & co
pemail=ann@example.org
INI
QUORVANE_SCORE_HOST="$ADDRESS" run_program sender
LOG="$WORK/sender.log"
wait_log "$LOG" play intro.wav
WIN=$(find_window "^Quor Vane$")
xdotool windowfocus --sync "$WIN" || fail "cannot focus the window"
xdotool key space
# Each key once the speech before it is over: a key during it would only cut it short.
skip_speech "$LOG" menuprompt.wav
xdotool key Down
skip_speech "$LOG" calSpeakers.wav
xdotool key Down
skip_speech "$LOG" sendscore.wav
xdotool key Return
wait_log "$LOG" play SendGood.wav 30
wait_log "$LOG" store quorvane/settings/qv
grep -q "	store	-	quorvane/settings/qv	1$" "$LOG" || fail "the sent marker is not 1"
skip_speech "$LOG" menuprompt.wav 2
xdotool key Escape
wait_exit
[ "$QV_STATUS" = 0 ] || fail "exit status $QV_STATUS"

# The leaderboard, read with bash's own TCP: the score with the name, never the address.
exec 3<>"/dev/tcp/${ADDRESS%:*}/${ADDRESS#*:}" || fail "cannot reach the server"
printf 'GET /scores/?format=json HTTP/1.0\r\nHost: %s\r\n\r\n' "$ADDRESS" >&3
BOARD=$(cat <&3)
exec 3<&-
# The JSON escapes <, > and & as \u003c, \u003e and \u0026.
echo "$BOARD" | grep -qF '"name":"Ann \u003cO'"'"'Neil\u003e \u0026 co","score":1500' ||
  fail "the leaderboard does not show Ann's 1500: $BOARD"
echo "$BOARD" | grep -q "ann@example.org" && fail "the leaderboard shows the e-mail address"
[ "$("$SCORES" --db "$WORK/scores.db" --count 2>/dev/null | tr -dc 0-9)" = 1 ] ||
  fail "the server does not hold exactly one submission"
echo "PASS"
