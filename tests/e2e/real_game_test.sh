#!/bin/bash
# real_game_test.sh -- a game of the real program started with real key presses, heard through
# its captured mix: each launch sound is in the left channel alone when the sound log says
# pan -10000, in the right alone for 10000, and in both at full level for 0. Every sound but
# the launch is silent here, so each burst in the capture is a launch. The game is recorded: the
# simulator runs its replay again, the program plays it back with the same sound log, and the
# score server verifies it.
# Usage: real_game_test.sh QUORVANE QUORVANE_SIM SOURCE_DIR
set -u
PROGRAM=$1
SIM=$2
SOURCE_DIR=$3
. "$(dirname "$0")/real_lib.sh"

start_x
stage_program "$PROGRAM" "$SOURCE_DIR" game
SOUNDS="$WORK/game/sounds"
for f in $(cd "$SOUNDS" && find . -name '*.wav'); do
  len=0.2
  case "$f" in */menumusic.wav | */level1.wav | */level2.wav) len=1 ;; esac
  sox -n -r 22050 -c 1 -b 16 "$SOUNDS/$f" trim 0 "$len" || fail "cannot make $f"
done
sox -n -r 22050 -c 1 -b 16 "$SOUNDS/launch.wav" synth 0.5 sine 440 vol 0.5 || fail "no launch.wav"
run_program game
LOG="$WORK/game.log"

# Each key once the speech before it is over: a key during it would only cut it short.
wait_log "$LOG" play menuprompt.wav
WIN=$(find_window "^Quor Vane$")
xdotool windowfocus --sync "$WIN" || fail "cannot focus the window"
wait_log "$LOG" release menuprompt.wav
xdotool key Return
wait_log "$LOG" release difficulty.wav
xdotool key Return
# Three targets launch and land unanswered; then Escape ends the game and the program.
for n in 1 2 3; do
  for i in $(seq 200); do
    [ "$(awk -F'\t' '$2 == "stop" && $4 == "launch.wav"' "$LOG" | wc -l)" -ge "$n" ] && break
    sleep 0.05
  done
done
xdotool key Escape
wait_log "$LOG" release menuprompt.wav 20 2
xdotool key Escape
wait_exit
[ "$QV_STATUS" = 0 ] || fail "exit status $QV_STATUS"

# The pans the game gave its launches, in order.
PANS=$(awk -F'\t' '$2 == "pan" && $4 == "launch.wav" { print $5 }' "$LOG" | head -n 3 | tr '\n' ' ')
[ "$(echo $PANS | wc -w)" -ge 3 ] || fail "fewer than three launches in the log: '$PANS'"

# The bursts of the capture: per 10 ms block, the peak of each channel; a burst is a run of
# blocks above a quarter of full scale, and is named L, R or C by which channels carry it.
sox "$WORK/game/out.wav" -t raw -e signed -b 16 -c 2 -r 44100 "$WORK/out.raw" 2>/dev/null ||
  fail "cannot read the capture"
HEARD=$(od -An -v -td2 -w4 "$WORK/out.raw" | awk '
  { l = ($1 < 0 ? -$1 : $1); r = ($2 < 0 ? -$2 : $2)
    if (l > bl) bl = l; if (r > br) br = r
    if (++n == 441) { blocks(bl, br); n = 0; bl = 0; br = 0 } }
  function blocks(a, b) {
    loud = (a > 8000 || b > 8000)
    if (loud) { if (a > ml) ml = a; if (b > mr) mr = b; inburst = 1 }
    else if (inburst) { name(); inburst = 0; ml = 0; mr = 0 } }
  function name() {
    if (ml > 15000 && mr < 200) printf "-10000 "
    else if (mr > 15000 && ml < 200) printf "10000 "
    else if (ml > 15000 && mr > 15000) printf "0 "
    else printf "?(%d/%d) ", ml, mr }
  END { if (inburst) name() }' | head -c 200)
HEARD3=$(echo $HEARD | cut -d' ' -f1-3)
PANS3=$(echo $PANS | cut -d' ' -f1-3)
echo "log pans: $PANS3; heard: $HEARD3"
[ "$HEARD3" = "$PANS3" ] || fail "heard '$HEARD3' where the log says '$PANS3'"

REPLAY="$WORK/game/data/quorvane/replays/game-000001.qvr"
[ -s "$REPLAY" ] || fail "the game left no replay"
"$SIM" --replay "$REPLAY" --sounds "$SOUNDS" >"$WORK/sim-replay.out" 2>"$WORK/sim-replay.err" ||
  fail "the simulator refuses the replay"
grep -qx "replay: score 0 difficulty 1 levels 1" "$WORK/sim-replay.out" ||
  fail "the simulator's replay: $(tail -n 1 "$WORK/sim-replay.out")"
QUORVANE_SOUND_CAPTURE="$WORK/game/playback.wav" QUORVANE_SOUND_LOG="$WORK/playback.log" \
  "$WORK/game/quorvane" --replay "$REPLAY" >"$WORK/playback.out" 2>"$WORK/playback.err" &
QV_PID=$!
QV_PIDS+=("$QV_PID")
wait_exit 60
[ "$QV_STATUS" = 0 ] || fail "the playback ended with status $QV_STATUS"
# The game's part of the first log, from the difficulty prompt's ducking to the game's end, with
# its times counted from there: the playback's log, line for line.
awk -F'\t' -v OFS='\t' '
  !start && $2 == "volume" && $4 == "menumusic.wav" && $5 == "-1000" { cand = NR; t = $1; keep = "" }
  !start && cand && $2 == "load" && $4 == "difficulty.wav" { start = 1; print keep }
  !start && cand { keep = keep (keep == "" ? "" : "\n") ($1 - t) OFS $2 OFS $3 OFS $4 OFS $5; next }
  start { $1 = $1 - t; print }' "$LOG" | head -n "$(wc -l <"$WORK/playback.log")" >"$WORK/game-part.log"
diff "$WORK/game-part.log" "$WORK/playback.log" >"$WORK/playback.diff" ||
  fail "the playback's sound log differs: $(head -n 20 "$WORK/playback.diff")"

SCORES="$(dirname "$PROGRAM")/server/quorvane-scores"
if [ -x "$SCORES" ]; then
  "$SCORES" --listen 127.0.0.1:0 --db "$WORK/scores.db" --sounds "$SOUNDS" >"$WORK/scores.out" 2>&1 &
  QV_PIDS+=($!)
  for i in $(seq 100); do grep -q "listening on" "$WORK/scores.out" && break; sleep 0.05; done
  PORT=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$WORK/scores.out")
  [ -n "$PORT" ] || fail "the score server did not start"
  # One request over bash's own TCP: the head, then the replay's bytes.
  request() {
    exec 3<>"/dev/tcp/127.0.0.1/$PORT"
    printf '%s /scores/replays%s HTTP/1.0\r\nHost: x\r\nContent-Length: %s\r\n\r\n' "$1" "$2" \
      "$(stat -c %s "${3:-/dev/null}")" >&3
    [ -n "${3:-}" ] && cat "$3" >&3
    cat <&3
    exec 3<&-
  }
  ID=$(request POST "" "$REPLAY" | sed -n 's/^{"id":\([0-9]*\)}.*/\1/p')
  [ -n "$ID" ] || fail "the server did not take the replay"
  for i in $(seq 600); do
    STATE=$(request GET "/$ID" | grep -o '"state":"[a-z]*"')
    [ "$STATE" = '"state":"verified"' ] && break
    [ "$STATE" = '"state":"refused"' ] && fail "the server refused the replay: $(request GET "/$ID")"
    sleep 0.05
  done
  [ "$STATE" = '"state":"verified"' ] || fail "the replay was not checked"
fi
echo "PASS"
