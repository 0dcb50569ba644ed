#!/bin/bash
# submit_wait.sh -- CPU of the real program while its score submission waits for a server that
# takes the connection and never answers (a score server stopped with SIGSTOP): the whole
# program and its game thread over SECONDS of the wait, and its passes through the event pump.
# Usage: submit_wait.sh QUORVANE_STAGED QUORVANE_SCORES [SECONDS]. Needs a display and the
# environment chosen by scripts/bench (output, log path, XDG_CONFIG_HOME).
set -u
PROGRAM=$1
SCORES=$2
SECONDS_WAIT=${3:-8}
LOG=${QUORVANE_SOUND_LOG:?set QUORVANE_SOUND_LOG}
CONFIG=${XDG_CONFIG_HOME:?set XDG_CONFIG_HOME}
. "$(dirname "$0")/real_lib.sh"

DB=$(mktemp -d)
"$SCORES" --listen 127.0.0.1:0 --db "$DB/scores.db" >"$DB/out" 2>&1 &
SERVER=$!
for i in $(seq 100); do grep -q "listening on" "$DB/out" && break; sleep 0.05; done
ADDRESS=$(sed -n 's/.*listening on \([0-9.]*:[0-9]*\).*/\1/p' "$DB/out")
kill -STOP "$SERVER"  # the kernel still takes connections; nothing answers them
mkdir -p "$CONFIG/quorvane"
printf '[QuorVane/Settings]\nHighScore=3438303333\nDifficulty=3725502525\n' \
  >"$CONFIG/quorvane/settings.ini"  # 1500 at difficulty 2, not sent yet

rm -f "$LOG"
QUORVANE_SCORE_HOST="$ADDRESS" "$PROGRAM" >/dev/null 2>&1 &
PID=$!
trap 'kill $PID 2>/dev/null; kill -CONT $SERVER 2>/dev/null; kill $SERVER 2>/dev/null; rm -rf "$DB"' EXIT
skip_to_menu
xdotool key Down
sleep 0.3
xdotool key Down
wait_for play sendscore.wav
sleep 0.3
xdotool key Return
wait_for release Sendwait.wav  # the wait's own loop, after its announcement
BEFORE=$(ticks "/proc/$PID/stat")
BEFORE_MAIN=$(ticks "/proc/$PID/task/$PID/stat")
sleep "$SECONDS_WAIT"
AFTER=$(ticks "/proc/$PID/stat")
AFTER_MAIN=$(ticks "/proc/$PID/task/$PID/stat")
echo "CPU during a submission wait: whole program $(percent $((AFTER - BEFORE)) "$SECONDS_WAIT") %," \
  "game thread $(percent $((AFTER_MAIN - BEFORE_MAIN)) "$SECONDS_WAIT") % of one core" \
  "over ${SECONDS_WAIT} s"
