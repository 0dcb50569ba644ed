#!/bin/bash
# idle_cpu.sh -- CPU use of the real program waiting at the menu prompt with its music looping:
# the whole process and each of its threads (the game's loops and the event pump run on the
# main one, the mixer on the audio output's), from /proc/PID/task/*/schedstat; how often the
# main thread wakes; whether its sound reaches the sound server; a busy loop beside it for
# scale, and the machine's load. Usage: idle_cpu.sh QUORVANE_STAGED [SECONDS]. Needs a display
# and the environment chosen by scripts/bench (output device, log path).
set -u
PROGRAM=$1
SECONDS_IDLE=${2:-10}
LOG=${QUORVANE_SOUND_LOG:?set QUORVANE_SOUND_LOG}
. "$(dirname "$0")/real_lib.sh"
wakes() { awk '/^voluntary_ctxt_switches/ { print $2 }' "$1"; }

rm -f "$LOG"
"$PROGRAM" >/dev/null 2>&1 &
PID=$!
BUSY=
trap 'kill $PID 2>/dev/null; [ -n "$BUSY" ] && kill $BUSY 2>/dev/null' EXIT
skip_to_menu
# From after the prompt: the menu's own loop, waiting for a key with the music looping.
for i in $(seq 400); do grep -q "	release	[0-9]*	menuprompt.wav" "$LOG" 2>/dev/null && break; sleep 0.05; done

BEFORE=$(thread_times $PID)
wakes_before=$(wakes "/proc/$PID/task/$PID/status")
sleep "$SECONDS_IDLE"
AFTER=$(thread_times $PID)
woke=$(($(wakes "/proc/$PID/task/$PID/status") - wakes_before))
SERVER=$(on_sound_server $PID)

( while :; do :; done ) &
BUSY=$!
busy_before=$(ticks "/proc/$BUSY/stat")
sleep 2
busy=$(($(ticks "/proc/$BUSY/stat") - busy_before))

echo "at the menu, over ${SECONDS_IDLE} s: $(thread_report "$BEFORE" "$AFTER" "$SECONDS_IDLE") (goal < 1.5)"
echo "  main thread woken $(awk -v w=$woke -v s="$SECONDS_IDLE" 'BEGIN { printf "%.0f", w / s }') times/s;" \
  "its sound on the sound server: $SERVER; a busy loop got $(percent $busy 2) %; $(machine_note)"
