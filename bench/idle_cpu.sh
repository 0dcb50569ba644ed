#!/bin/bash
# idle_cpu.sh -- CPU use of the real program waiting at the menu prompt: the whole process
# (OpenAL's mixing threads included) and its main thread alone, where the game's loops and the
# event pump run, from /proc/PID/stat and /proc/PID/task/PID/stat; how often that thread
# wakes; a busy loop beside them for scale. Usage: idle_cpu.sh QUORVANE_STAGED [SECONDS].
# Needs a display and the environment chosen by scripts/bench (output device, log path).
set -u
PROGRAM=$1
SECONDS_IDLE=${2:-10}
LOG=${QUORVANE_SOUND_LOG:?set QUORVANE_SOUND_LOG}
HZ=$(getconf CLK_TCK)

cpu_ticks() { awk '{ print $14 + $15 }' "$1"; }  # user + system time of a stat file
wakes() { awk '/^voluntary_ctxt_switches/ { print $2 }' "$1"; }
percent() { awk -v t="$1" -v hz="$HZ" -v s="$2" 'BEGIN { printf "%.2f", 100 * t / hz / s }'; }

rm -f "$LOG"
"$PROGRAM" >/dev/null 2>&1 &
PID=$!
BUSY=
trap 'kill $PID 2>/dev/null; [ -n "$BUSY" ] && kill $BUSY 2>/dev/null' EXIT
for i in $(seq 200); do grep -q "	play	[0-9]*	intro.wav" "$LOG" 2>/dev/null && break; sleep 0.05; done
WIN=$(timeout 10 xdotool search --sync --name "^Quor Vane$" | head -n1)
xdotool windowfocus --sync "$WIN" key space
for i in $(seq 200); do grep -q "	play	[0-9]*	menuprompt.wav" "$LOG" 2>/dev/null && break; sleep 0.05; done
grep -q "	play	[0-9]*	menuprompt.wav" "$LOG" || { echo "idle_cpu: never reached the menu" >&2; exit 1; }
# From after the prompt: the menu's own loop, waiting for a key with the music looping.
for i in $(seq 400); do grep -q "	release	[0-9]*	menuprompt.wav" "$LOG" 2>/dev/null && break; sleep 0.05; done

ALL=/proc/$PID/stat
MAIN=/proc/$PID/task/$PID/stat
all_before=$(cpu_ticks "$ALL")
main_before=$(cpu_ticks "$MAIN")
wakes_before=$(wakes "/proc/$PID/task/$PID/status")
sleep "$SECONDS_IDLE"
all=$(($(cpu_ticks "$ALL") - all_before))
main=$(($(cpu_ticks "$MAIN") - main_before))
woke=$(($(wakes "/proc/$PID/task/$PID/status") - wakes_before))
THREADS=$(ls "/proc/$PID/task" | wc -l)

( while :; do :; done ) &
BUSY=$!
busy_before=$(cpu_ticks "/proc/$BUSY/stat")
sleep 2
busy=$(($(cpu_ticks "/proc/$BUSY/stat") - busy_before))

echo "at the menu, over ${SECONDS_IDLE} s: whole program $(percent $all "$SECONDS_IDLE") % of one" \
  "core ($THREADS threads, goal < 5); game thread $(percent $main "$SECONDS_IDLE") %, woken" \
  "$(awk -v w=$woke -v s="$SECONDS_IDLE" 'BEGIN { printf "%.0f", w / s }') times/s;" \
  "a busy loop: $(percent $busy 2) %"
