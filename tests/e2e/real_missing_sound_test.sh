#!/bin/bash
# real_missing_sound_test.sh -- the real program without BonusLand.wav: a message box naming the
# file (and the same text on standard error), dismissed with Return, then exit status 1.
# Usage: real_missing_sound_test.sh QUORVANE QUORVANE_SIM SOURCE_DIR
set -u
PROGRAM=$1
SOURCE_DIR=$3
. "$(dirname "$0")/real_lib.sh"

start_x
stage_program "$PROGRAM" "$SOURCE_DIR" missing BonusLand.wav
run_program missing
LOG="$WORK/missing.log"

wait_log "$LOG" message "*"
find_box
xdotool windowfocus --sync "$BOX" || fail "cannot focus the message box"
xdotool key Return
wait_exit

[ "$QV_STATUS" = 1 ] || fail "exit status $QV_STATUS, expected 1"
grep -q "	message	-	[^	]*BonusLand\.wav" "$LOG" || fail "no message naming BonusLand.wav in the log"
grep -q "BonusLand\.wav" "$WORK/missing.err" || fail "standard error does not name BonusLand.wav"
LAST=$(tail -n1 "$LOG" | cut -f2,5)
[ "$LAST" = "exit	1" ] || fail "the log ends with '$LAST', not an exit of status 1"
echo "PASS"
