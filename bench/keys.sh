#!/bin/bash
# keys.sh -- from a key to its sound heard at the sink, in the main menu (Down: the next item
# is spoken, once the key is let go, so from its release) and in a game (a fire key: the gun,
# from its press), each key timed as it is sent to the X server
# (bench/press_keys.py) and its sound by a recorder on the sink's monitor (bench/heard.cpp). The program runs on a copy of
# its sounds in which every file is silence of its own length but the menu's items and the gun,
# which are tones from their first sample: each sound that starts after a silence is the key's.
# Usage: keys.sh QUORVANE_STAGED HEARD [PRESSES] (a multiple of 4, 20 unless given: the menu
# comes round to its first item). Needs a display and the PulseAudio server of scripts/bench.
set -u
PROGRAM=$1
HEARD=$2
PRESSES=$(((${3:-20} + 3) / 4 * 4))
LOG=${QUORVANE_SOUND_LOG:?set QUORVANE_SOUND_LOG}
. "$(dirname "$0")/real_lib.sh"

DIR=$(mktemp -d)
ONSETS_FEED=
KEYS_FEED=
trap 'kill $PID $ONSETS $PRESSER 2>/dev/null; rm -rf "$DIR"' EXIT
cp "$PROGRAM" "$DIR/quorvane"
cp -r "$(dirname "$PROGRAM")/sounds" "$DIR/sounds"
for f in $(cd "$DIR/sounds" && find . -name '*.wav'); do
  case "$f" in
    ./startgame.wav | ./calSpeakers.wav | ./sendscore.wav | ./exit.wav | ./gun.wav)
      sox -n -r 22050 -c 1 -b 16 "$DIR/sounds/$f" synth 0.2 sine 440 vol 0.5 ;;
    *) sox "$DIR/sounds/$f" "$DIR/silent.wav" vol 0 && mv "$DIR/silent.wav" "$DIR/sounds/$f" ;;
  esac
done

# The recorder, fed nothing: it records until its standard input closes.
exec {ONSETS_FEED}> >("$HEARD" onsets >"$DIR/onsets")
ONSETS=$!
for i in $(seq 100); do grep -q ready "$DIR/onsets" 2>/dev/null && break; sleep 0.05; done

rm -f "$LOG"
"$DIR/quorvane" >/dev/null 2>&1 &
PID=$!
skip_to_menu
# The presser, connected once: a key name in, the moment it was sent out.
exec {KEYS_FEED}> >(python3 "$(dirname "$0")/press_keys.py" >"$DIR/sent")
PRESSER=$!
press() {
  echo "$1" >&"$KEYS_FEED"
  local n=$(($(wc -l <"$DIR/sent" 2>/dev/null || echo 0) + 1)) i
  for i in $(seq 100); do [ "$(wc -l <"$DIR/sent")" -ge "$n" ] && break; sleep 0.01; done
  tail -n1 "$DIR/sent" | cut -d' ' -f"$3" >>"$DIR/$2"
}
: >"$DIR/menu"
for i in $(seq "$PRESSES"); do
  sleep "0.$(shuf -i 5-9 -n1)"
  press Down menu 2
done
sleep 0.6
xdotool key Return  # the first item again: a new game
wait_for play difficulty.wav
sleep 0.5
xdotool key Return
wait_for play launch.wav
: >"$DIR/play"
for i in $(seq "$PRESSES"); do
  sleep "0.$(shuf -i 4-9 -n1)"
  press "$(shuf -n1 -e Left Up Right)" play 1
done
sleep 0.5
exec {ONSETS_FEED}>&-

# Each key's delay: the first sound heard after it, within 300 ms.
delays() {
  awk 'FNR == NR { if ($1 != "ready") on[n++] = $1 / 1000; next }
       { key = $1 * 1000; for (i = 0; i < n; i++) if (on[i] >= key - 1) {
           if (on[i] - key < 300) print on[i] - key; break } }' "$DIR/onsets" "$1" | sort -n
}
report() {
  local d count
  d=$(delays "$DIR/$1")
  count=$(echo "$d" | grep -c .)
  if [ "$count" -gt 0 ]; then
    echo "$2 ($count of $PRESSES keys heard): median $(echo "$d" | sed -n "$(((count + 1) / 2))p" | xargs printf %.1f) ms," \
      "max $(echo "$d" | tail -n1 | xargs printf %.1f) ms ($3)"
  else
    echo "$2: no key heard"
  fi
}
report menu "key to sound at the sink, main menu (Down let go, the next item)" "goal <= 30"
report play "key to sound at the sink, in a game (fire, the gun)" "goal: as before, about 8-10"
echo "  $(machine_note)"
