#!/bin/bash
# real_play_script_test.sh -- scripts/play, on a fresh build folder, builds the game alone (no
# tests, simulator, score server, benchmarks or sound generator) and starts it, speaking.
# Usage: real_play_script_test.sh QUORVANE QUORVANE_SIM SOURCE_DIR
set -u
SOURCE_DIR=$3
. "$(dirname "$0")/real_lib.sh"

start_x
BUILD_DIR="$WORK/build" QUORVANE_SOUND_CAPTURE="$WORK/out.wav" QUORVANE_SOUND_LOG="$WORK/play.log" \
  XDG_CONFIG_HOME="$WORK/config" bash "$SOURCE_DIR/scripts/play" >"$WORK/build.out" 2>&1 &
QV_PID=$!
QV_PIDS+=("$QV_PID")
# The build comes first: as long as the test's own time limit allows.
wait_log "$WORK/play.log" play intro.wav 280
kill -TERM "$QV_PID"
wait_exit
[ -x "$WORK/build/quorvane" ] || fail "no build/quorvane"
for built in quorvane-sim soundgen quorvane_tests server audio_gaps sound_mix; do
  [ -e "$WORK/build/$built" ] && fail "scripts/play built $built, which playing does not need"
done
echo "PASS"
