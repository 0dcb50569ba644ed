#!/bin/bash
# game.sh -- the real program during a game: the time from a fire key's press (the log's "key"
# line, written when a poll first sees it) to the start of "gun.wav", and the CPU the whole
# program and each of its threads take over SECONDS of play (schedstat), with the sound server's
# over the same seconds and a pacat stream's at the 10 ms of buffer the game's output holds in
# play; then the CPU time of a whole six-level bot game in the simulator. Usage: game.sh QUORVANE_STAGED QUORVANE_SIM
# [SECONDS]. Needs a display and the environment chosen by scripts/bench (output, log path).
set -u
PROGRAM=$1
SIM=$2
SECONDS_PLAY=${3:-10}
LOG=${QUORVANE_SOUND_LOG:?set QUORVANE_SOUND_LOG}
. "$(dirname "$0")/real_lib.sh"

rm -f "$LOG"
"$PROGRAM" >/dev/null 2>&1 &
PID=$!
trap 'kill $PID 2>/dev/null' EXIT
skip_to_menu
xdotool key Return
wait_for play difficulty.wav
sleep 0.5
xdotool key Return
wait_for play launch.wav

# Fire at random moments while the CPU is counted (difficulty 1: every press fires).
BEFORE=$(thread_times $PID)
server_before=$(server_ns)
END=$((SECONDS + SECONDS_PLAY))
while [ $SECONDS -lt $END ]; do
  xdotool key "$(shuf -n1 -e Left Up Right)"
  sleep "0.$(shuf -i 3-9 -n1)"
done
AFTER=$(thread_times $PID)
server_after=$(server_ns)
SERVER=$(on_sound_server $PID)
xdotool key Escape
sleep 0.5
kill $PID
wait $PID 2>/dev/null

DELAYS=$(awk -F'\t' '
  $2 == "key" && $5 == "down" && ($4 == "Left" || $4 == "Up" || $4 == "Right") { pressed = $1; waiting = 1 }
  $2 == "play" && $4 == "gun.wav" && waiting { print $1 - pressed; waiting = 0 }' "$LOG" | sort -n)
N=$(echo "$DELAYS" | grep -c .)
if [ "$N" -gt 0 ]; then
  echo "fire key to gun.wav (log ms, $N shots): median $(echo "$DELAYS" | sed -n "$(((N + 1) / 2))p")," \
    "max $(echo "$DELAYS" | tail -n1) (goal: the same pass, < 2)"
else
  echo "fire key to gun.wav: no shots seen"
fi
echo "CPU during a game, over ${SECONDS_PLAY} s: $(thread_report "$BEFORE" "$AFTER" "$SECONDS_PLAY")" \
  "(goal < 2)"
echo "  its sound on the sound server: $SERVER; the sound server" \
  "$(server_percent "$server_before" "$server_after" "$SECONDS_PLAY") %; $(machine_note)"
[ "$SERVER" = yes ] && reference_cpu 10 "$SECONDS_PLAY"

# A whole bot game in virtual time: the simulator's own CPU time.
SCRIPT=$(mktemp)
printf 'wait play menuprompt.wav\ntap Return\nwait play difficulty.wav\ntap Return\nwait play final.wav\nwait play menuprompt.wav\ntap Escape\n' >"$SCRIPT"
TIMEFORMAT="%U %S"
CPU=$( { time "$SIM" --bot 200 --script "$SCRIPT" >/dev/null; } 2>&1 | awk '{ printf "%.3f", $1 + $2 }')
rm -f "$SCRIPT"
echo "a whole six-level bot game in the simulator: ${CPU} s of CPU (goal < 1)"
