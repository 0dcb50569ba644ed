#!/bin/bash
# real_sound_server_restart_test.sh -- the sound server killed and started again while the real
# program plays its menu: the game opens the device again, rebuilds its buffers and carries on
# (no message, no restart), its log goes on with the next announcement, and the sink hears the
# menu music again. Output: a PulseAudio null sink, as the benchmarks use.
# Usage: real_sound_server_restart_test.sh QUORVANE QUORVANE_SIM SOURCE_DIR
set -u
PROGRAM=$1
SOURCE_DIR=$3
. "$(dirname "$0")/real_lib.sh"
command -v pulseaudio >/dev/null && command -v parec >/dev/null ||
  fail "pulseaudio and parec (pulseaudio-utils) are needed"

start_x
export PULSE_RUNTIME_PATH="$WORK/pulse" PULSE_SERVER="unix:$WORK/pulse/native"
mkdir -p "$PULSE_RUNTIME_PATH"
start_pulse() {
  HOME="$WORK" pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    --disallow-exit -L "module-null-sink sink_name=qv_null" \
    -L "module-native-protocol-unix socket=$WORK/pulse/native auth-anonymous=1" \
    >>"$WORK/pulse.err" 2>&1 &
  PULSE=$!
  QV_PIDS+=("$PULSE")
  local i
  for i in $(seq 100); do pactl info >/dev/null 2>&1 && return 0; sleep 0.05; done
  fail "PulseAudio did not start"
}
# The peak of one second of the sink's monitor, as a fraction of full scale.
sink_peak() {
  timeout 1 parec -d qv_null.monitor --format=s16le --channels=2 --rate=44100 >"$WORK/rec.raw"
  sox -t raw -e signed -b 16 -c 2 -r 44100 "$WORK/rec.raw" -n stat 2>&1 |
    awk '/^Maximum amplitude/ { print $3 }'
}

start_pulse
stage_program "$PROGRAM" "$SOURCE_DIR" restart
QV_REAL_OUTPUT=1 run_program restart
LOG="$WORK/restart.log"
skip_to_menu "$LOG"
BEFORE=$(sink_peak)
awk -v p="${BEFORE:-0}" 'BEGIN { exit !(p > 0.01) }' || fail "no menu music before the restart ($BEFORE)"

kill -9 "$PULSE"
wait "$PULSE" 2>/dev/null
start_pulse
# The game hears the server gone at its next turn and opens the device again: its music is back.
for i in $(seq 15); do
  awk -v p="$(sink_peak)" 'BEGIN { exit !(p > 0.01) }' && break
done
xdotool key Down
wait_log "$LOG" play calSpeakers.wav 15
kill -0 "$QV_PID" 2>/dev/null || fail "the program ended: $(cat "$WORK/restart.err")"
grep -q "	message	" "$LOG" && fail "a message box came up"
AFTER=$(sink_peak)
echo "menu music peak before the restart $BEFORE, after $AFTER"
awk -v p="${AFTER:-0}" 'BEGIN { exit !(p > 0.01) }' || fail "silence after the restart ($AFTER)"
xdotool key Escape
wait_exit 30
[ "$QV_STATUS" = 0 ] || fail "exit status $QV_STATUS"
echo "PASS"
