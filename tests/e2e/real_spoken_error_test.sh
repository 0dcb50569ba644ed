#!/bin/bash
# real_spoken_error_test.sh -- an error the real program reports in its message box is also
# spoken through speech-dispatcher's spd-say when that is on the PATH (a stand-in here that
# records what it was asked to say), and still goes to standard error. spd-say runs in the
# environment the game was started with, not the one the game set for SDL's start.
# Usage: real_spoken_error_test.sh QUORVANE QUORVANE_SIM SOURCE_DIR
set -u
PROGRAM=$1
SOURCE_DIR=$3
. "$(dirname "$0")/real_lib.sh"

start_x
mkdir -p "$WORK/speech"
cat >"$WORK/speech/spd-say" <<SPD
#!/bin/sh
echo "XCOMPOSEFILE=\${XCOMPOSEFILE-unset}" >"$WORK/speech.env"
printf '%s\n' "\$@" >"$WORK/spoken.txt"
SPD
chmod +x "$WORK/speech/spd-say"
stage_program "$PROGRAM" "$SOURCE_DIR" spoken bonusmiss.wav
unset XCOMPOSEFILE
PATH="$WORK/speech:$PATH" run_program spoken
wait_log "$WORK/spoken.log" message "*"
for i in $(seq 100); do [ -s "$WORK/spoken.txt" ] && break; sleep 0.05; done
grep -q "bonusmiss\.wav" "$WORK/spoken.txt" 2>/dev/null || fail "the error was not spoken: $(cat "$WORK/spoken.txt" 2>&1)"
grep -q "bonusmiss\.wav" "$WORK/spoken.err" || fail "the error is not on standard error"
grep -qx "XCOMPOSEFILE=unset" "$WORK/speech.env" || fail "spd-say got the game's own setting: $(cat "$WORK/speech.env")"
kill -TERM "$QV_PID"
wait_exit
echo "PASS"
