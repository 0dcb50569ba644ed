#!/bin/bash
# real_signal_test.sh -- SIGTERM ends the real program promptly, and leaves no process of it
# behind (SDL draws a message box in a process of its own), while its error message box is up
# (a sound file missing), while the box about an unusable settings file is up at start-up, and
# while it plays on after that box; SIGINT while it plays: a logout or a kill never leaves it
# hanging, and the settings file is left as it was.
# Usage: real_signal_test.sh QUORVANE QUORVANE_SIM SOURCE_DIR
set -u
PROGRAM=$1
SOURCE_DIR=$3
. "$(dirname "$0")/real_lib.sh"

start_x
# Within one second of the signal, neither the program nor any process forked from it (any
# process running the staged copy NAME) is left, or the test fails.
gone_within_a_second() {
  local name=$1 what=$2 i p left
  for i in $(seq 20); do
    left=""
    for p in /proc/[0-9]*; do
      [ "$(readlink "$p/exe" 2>/dev/null)" = "$WORK/$name/quorvane" ] && left="$left ${p#/proc/}"
    done
    [ -z "$left" ] && return 0
    sleep 0.05
  done
  QV_PIDS+=($left)  # for the clean-up
  fail "still running a second after $what:$left"
}

stage_program "$PROGRAM" "$SOURCE_DIR" boxed BonusLand.wav
mkdir -p "$WORK/boxed/config/quorvane"
printf '[Quorvane/reg]\npname=Ann\n' >"$WORK/boxed/config/quorvane/settings.ini"
run_program boxed
wait_log "$WORK/boxed.log" message "*"
find_box
kill -TERM "$QV_PID"
gone_within_a_second boxed "SIGTERM during the message box"
[ "$(cat "$WORK/boxed/config/quorvane/settings.ini")" = "$(printf '[Quorvane/reg]\npname=Ann')" ] ||
  fail "the settings file changed"

# A folder where the settings file should be: the box comes up at start-up, the game plays on
# once it is dismissed, and stores nothing.
stage_program "$PROGRAM" "$SOURCE_DIR" unusable
mkdir -p "$WORK/unusable/config/quorvane/settings.ini"
run_program unusable
wait_log "$WORK/unusable.log" message "*"
find_box
kill -TERM "$QV_PID"
gone_within_a_second unusable "SIGTERM during the settings file's message box"
run_program unusable
wait_log "$WORK/unusable.log" message "*"
find_box
xdotool windowfocus --sync "$BOX" key Return || fail "cannot dismiss the message box"
wait_log "$WORK/unusable.log" play intro.wav
grep -q "settings.ini.*plays on" "$WORK/unusable.err" || fail "the message is not on standard error"
kill -TERM "$QV_PID"
gone_within_a_second unusable "SIGTERM after the settings file's message box"
[ -z "$(ls -A "$WORK/unusable/config/quorvane/settings.ini")" ] || fail "the settings folder changed"

stage_program "$PROGRAM" "$SOURCE_DIR" playing
# With job control on, a program started in the background does not ignore SIGINT, as it
# would in a plain script: this is the Ctrl+C of a terminal.
set -m
run_program playing
set +m
wait_log "$WORK/playing.log" play intro.wav
kill -INT "$QV_PID"
gone_within_a_second playing "SIGINT during the introduction"
echo "PASS"
