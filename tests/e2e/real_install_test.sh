#!/bin/bash
# real_install_test.sh -- the installed program, started from another folder, finds its sounds
# in the installed data folder and speaks; the desktop entry is installed beside it.
# Usage: real_install_test.sh QUORVANE QUORVANE_SIM SOURCE_DIR
set -u
PROGRAM=$1
. "$(dirname "$0")/real_lib.sh"

start_x
PREFIX="$WORK/prefix"
cmake --install "$(dirname "$PROGRAM")" --prefix "$PREFIX" >"$WORK/install.log" 2>&1 ||
  fail "cmake --install failed"
[ -x "$PREFIX/bin/quorvane" ] || fail "no bin/quorvane"
[ -f "$PREFIX/share/quorvane/sounds/intro.wav" ] || fail "no sounds in share/quorvane/sounds"
[ -f "$PREFIX/share/quorvane/sounds/numbers/sn7.wav" ] || fail "no number words installed"
grep -q "^Exec=quorvane$" "$PREFIX/share/applications/quorvane.desktop" || fail "no desktop entry"

mkdir -p "$WORK/elsewhere"
(cd "$WORK/elsewhere" && QUORVANE_SOUND_CAPTURE="$WORK/out.wav" QUORVANE_SOUND_LOG="$WORK/installed.log" \
  XDG_CONFIG_HOME="$WORK/config" "$PREFIX/bin/quorvane" >"$WORK/installed.out" \
  2>"$WORK/installed.err") &
QV_PID=$!
QV_PIDS+=("$QV_PID")
wait_log "$WORK/installed.log" play intro.wav
wait_sound "$WORK/out.wav"
kill -TERM "$QV_PID"
wait_exit
echo "PASS"
