#!/bin/bash
# real_signal_test.sh -- SIGTERM ends the real program promptly while its error message box is up
# (a sound file missing), and SIGINT while it plays: a logout or a kill never leaves it hanging,
# and the settings file is left as it was.
# Usage: real_signal_test.sh QUORVANE QUORVANE_SIM SOURCE_DIR
set -u
PROGRAM=$1
SOURCE_DIR=$3
. "$(dirname "$0")/real_lib.sh"

start_x
# Ends within one second of the signal, or fails.
ends_within_a_second() {
  local i
  for i in $(seq 20); do
    kill -0 "$QV_PID" 2>/dev/null || return 0
    sleep 0.05
  done
  fail "still running a second after $1"
}

stage_program "$PROGRAM" "$SOURCE_DIR" boxed BonusLand.wav
mkdir -p "$WORK/boxed/config/quorvane"
printf '[Quorvane/reg]\npname=Ann\n' >"$WORK/boxed/config/quorvane/settings.ini"
run_program boxed
wait_log "$WORK/boxed.log" message "*"
sleep 0.3  # the box is up
kill -TERM "$QV_PID"
ends_within_a_second "SIGTERM during the message box"
[ "$(cat "$WORK/boxed/config/quorvane/settings.ini")" = "$(printf '[Quorvane/reg]\npname=Ann')" ] ||
  fail "the settings file changed"

stage_program "$PROGRAM" "$SOURCE_DIR" playing
# With job control on, a program started in the background does not ignore SIGINT, as it
# would in a plain script: this is the Ctrl+C of a terminal.
set -m
run_program playing
set +m
wait_log "$WORK/playing.log" play intro.wav
kill -INT "$QV_PID"
ends_within_a_second "SIGINT during the introduction"
echo "PASS"
