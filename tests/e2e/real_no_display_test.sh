#!/bin/bash
# real_no_display_test.sh -- started where there is no display, the real program says why on
# standard error and ends with status 1 before making a sound, instead of talking on with no
# window to take the keyboard.
# Usage: real_no_display_test.sh QUORVANE QUORVANE_SIM SOURCE_DIR
set -u
PROGRAM=$1
SOURCE_DIR=$3
. "$(dirname "$0")/real_lib.sh"

WORK=$(mktemp -d /tmp/qv_e2e.XXXXXX)
trap cleanup EXIT
stage_program "$PROGRAM" "$SOURCE_DIR" nodisplay
unset DISPLAY WAYLAND_DISPLAY
run_program nodisplay
LOG="$WORK/nodisplay.log"
wait_exit 10

[ "$QV_STATUS" = 1 ] || fail "exit status $QV_STATUS, expected 1"
grep -q "no display" "$WORK/nodisplay.err" || fail "standard error does not say there is no display"
grep -q "	load	" "$LOG" && fail "sounds were loaded without a window"
LAST=$(tail -n1 "$LOG" | cut -f2,5)
[ "$LAST" = "exit	1" ] || fail "the log ends with '$LAST', not an exit of status 1"
echo "PASS"
