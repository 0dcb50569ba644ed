#!/bin/bash
# real_program_test.sh -- the real program under Xvfb: skip the intro with Space, leave the menu
# with Escape, hear the output, and match the simulator's sound sequence for the same keys.
# Usage: real_program_test.sh QUORVANE QUORVANE_SIM SOURCE_DIR
set -u
PROGRAM=$1
SIM=$2
SOURCE_DIR=$3
. "$(dirname "$0")/real_lib.sh"

start_x
stage_program "$PROGRAM" "$SOURCE_DIR" run
run_program run
LOG="$WORK/run.log"

wait_log "$LOG" play intro.wav
WIN=$(find_window "^Quor Vane$")
[ -n "$WIN" ] || fail "no window captioned 'Quor Vane'"
xdotool windowfocus --sync "$WIN" || fail "cannot focus the window"
xdotool key space
wait_log "$LOG" play menuprompt.wav
# Escape after the prompt has ended, so both runs take the same path whatever the timing.
wait_log "$LOG" release menuprompt.wav
xdotool key Escape
wait_exit

[ "$QV_STATUS" = 0 ] || fail "exit status $QV_STATUS, expected 0"
LAST=$(tail -n1 "$LOG" | cut -f2,5)
[ "$LAST" = "exit	0" ] || fail "the log ends with '$LAST', not an exit of status 0"
grep -q "	play	[0-9]*	ending.wav	" "$LOG" || fail "ending.wav was not played"
grep -q "	stop	[0-9]*	intro.wav	" "$LOG" || fail "Space did not cut the intro short"

# The device really produced sound: the wave writer's capture is not silence.
PEAK=$(sox "$WORK/run/out.wav" -n stat 2>&1 | awk '/^Maximum amplitude/ { print $3 }')
awk -v p="${PEAK:-0}" 'BEGIN { exit !(p > 0.05) }' || fail "captured output is silent (peak '$PEAK')"

# The same keys in virtual time give the same sounds in the same order.
cat >"$WORK/keys.script" <<'SCRIPT'
wait play intro.wav
sleep 300
tap Space
wait play menuprompt.wav
wait release menuprompt.wav
sleep 100
tap Escape
SCRIPT
"$SIM" --script "$WORK/keys.script" --sounds "$WORK/run/sounds" >"$WORK/sim.log" 2>"$WORK/sim.err"
SIM_STATUS=$?
[ "$SIM_STATUS" = 0 ] || fail "simulator exit status $SIM_STATUS"
if ! diff <(log_pairs "$LOG") <(log_pairs "$WORK/sim.log") >"$WORK/pairs.diff"; then
  cat "$WORK/pairs.diff" >&2
  fail "the real and virtual runs differ"
fi
echo "PASS"
