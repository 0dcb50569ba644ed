#!/bin/bash
# real_output_test.sh -- the real sound output on a PulseAudio server of its own, heard by a
# recorder on its null sink's monitor (tests/real_pulse_test.cpp): the first sound reaches the
# sink soon after the output opens, also when the idle sink holds a block of silence it
# rendered ahead, and a tone heard through changes of the output's buffer starts from its first
# sample and has no gap or step. Usage: real_output_test.sh QUORVANE QUORVANE_SIM SOURCE_DIR
set -u
PROGRAM=$1
TESTS="$(dirname "$PROGRAM")/quorvane_tests"
. "$(dirname "$0")/real_lib.sh"
command -v pulseaudio >/dev/null || fail "pulseaudio is needed"
[ -x "$TESTS" ] || fail "no $TESTS"

WORK=$(mktemp -d /tmp/qv_e2e.XXXXXX)
trap cleanup EXIT
export PULSE_RUNTIME_PATH="$WORK/pulse" PULSE_SERVER="unix:$WORK/pulse/native"
mkdir -p "$PULSE_RUNTIME_PATH"
HOME="$WORK" pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  -L "module-null-sink sink_name=qv_null" \
  -L "module-native-protocol-unix socket=$WORK/pulse/native auth-anonymous=1" \
  >"$WORK/pulse.err" 2>&1 &
QV_PIDS+=($!)
for i in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
pactl info >/dev/null 2>&1 || fail "PulseAudio did not start"
QV_PULSE_SINK=qv_null "$TESTS" --gtest_filter='RealPulse.*' >"$WORK/tests.log" 2>&1 ||
  fail "$(grep -E 'Failure|Expected|Which|gap|start|samples' "$WORK/tests.log" | head -n 20)"
grep -q 'PASSED  \] 2 tests' "$WORK/tests.log" || fail "the tests did not run: $(tail -n 5 "$WORK/tests.log")"
echo "PASS"
