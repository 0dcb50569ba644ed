#!/bin/bash
# idle_cpu.sh -- CPU use of the real program waiting at the menu prompt with its music looping:
# the whole process and each of its threads (the game's loops and the event pump run on the
# main one, the mixer on the audio output's), from /proc/PID/task/*/schedstat; how often the
# main thread wakes; whether its sound reaches the sound server; the sound server's CPU over the
# same seconds; then, the program gone, a pacat stream at 30 ms and at 10 ms of buffer (what the
# game's output holds at the menu, and in play) with the server's CPU beside each; a busy loop
# for scale, and the machine's load. Usage: idle_cpu.sh QUORVANE_STAGED [SECONDS]. Needs a
# display and the environment chosen by scripts/bench (output device, log path).
set -u
PROGRAM=$1
SECONDS_IDLE=${2:-10}
LOG=${QUORVANE_SOUND_LOG:?set QUORVANE_SOUND_LOG}
. "$(dirname "$0")/real_lib.sh"
wakes() { awk '/^voluntary_ctxt_switches/ { print $2 }' "$1"; }
# The wake-ups of every thread but the main one (the audio output's), so far.
output_wakes() {
  local task n=0
  for task in /proc/"$1"/task/*; do
    [ "${task##*/}" = "$1" ] || n=$((n + $(wakes "$task/status")))
  done
  echo $n
}

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
output_before=$(output_wakes $PID)
server_before=$(server_ns)
sleep "$SECONDS_IDLE"
AFTER=$(thread_times $PID)
server_after=$(server_ns)
woke=$(($(wakes "/proc/$PID/task/$PID/status") - wakes_before))
output_woke=$(($(output_wakes $PID) - output_before))
SERVER=$(on_sound_server $PID)
kill $PID
wait $PID 2>/dev/null

( while :; do :; done ) &
BUSY=$!
busy_before=$(ticks "/proc/$BUSY/stat")
sleep 2
busy=$(($(ticks "/proc/$BUSY/stat") - busy_before))

echo "at the menu, over ${SECONDS_IDLE} s: $(thread_report "$BEFORE" "$AFTER" "$SECONDS_IDLE") (goal < 1.5)"
per_second() { awk -v w="$1" -v s="$SECONDS_IDLE" 'BEGIN { printf "%.0f", w / s }'; }
echo "  main thread woken $(per_second $woke) times/s, the others (the output's) $(per_second $output_woke);" \
  "its sound on the sound server: $SERVER; the sound server $(server_percent "$server_before" "$server_after" "$SECONDS_IDLE") %;" \
  "a busy loop got $(percent $busy 2) %; $(machine_note)"
if [ "$SERVER" = yes ]; then
  reference_cpu 30 "$SECONDS_IDLE"
  reference_cpu 10 "$SECONDS_IDLE"
fi
