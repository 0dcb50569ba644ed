#!/bin/bash
# idle_cpu.sh -- CPU use of the real program waiting at the menu prompt, from /proc/PID/stat,
# beside a busy loop for comparison. Usage: idle_cpu.sh QUORVANE_STAGED [SECONDS]. Needs a
# display and the environment chosen by scripts/bench (wave writer output, log path).
set -u
PROGRAM=$1
SECONDS_IDLE=${2:-10}
LOG=${QUORVANE_SOUND_LOG:?set QUORVANE_SOUND_LOG}
HZ=$(getconf CLK_TCK)

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

measure() {  # measure PID SECONDS: per cent of one core
  local before after
  before=$(cpu_ticks "$1")
  sleep "$2"
  after=$(cpu_ticks "$1")
  awk -v t=$((after - before)) -v hz="$HZ" -v s="$2" 'BEGIN { printf "%.2f", 100 * t / hz / s }'
}

rm -f "$LOG"
"$PROGRAM" >/dev/null 2>&1 &
PID=$!
trap 'kill $PID 2>/dev/null; kill $BUSY 2>/dev/null' EXIT
for i in $(seq 200); do grep -q "	play	[0-9]*	intro.wav" "$LOG" 2>/dev/null && break; sleep 0.05; done
WIN=$(timeout 10 xdotool search --sync --name "^Quor Vane$" | head -n1)
xdotool windowfocus --sync "$WIN" key space
for i in $(seq 200); do grep -q "	play	[0-9]*	menuprompt.wav" "$LOG" 2>/dev/null && break; sleep 0.05; done
grep -q "	play	[0-9]*	menuprompt.wav" "$LOG" || { echo "idle_cpu: never reached the menu" >&2; exit 1; }
IDLE=$(measure $PID "$SECONDS_IDLE")
( while :; do :; done ) &
BUSY=$!
FULL=$(measure $BUSY 2)
echo "idle at the menu: ${IDLE} % of one core over ${SECONDS_IDLE} s (goal < 5); busy loop: ${FULL} %"
