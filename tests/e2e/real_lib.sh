# real_lib.sh -- shared steps for the end-to-end tests of the real program: a private X server,
# a private copy of the program with its sounds, its mix captured to a wave file, and log waits.
# Sourced by the *_test.sh scripts; sets WORK, DISPLAY and the environment the program reads.

# The files start-up loads or plays in these scenarios.
QV_E2E_SOUNDS=(menumusic.wav level1.wav level2.wav gun.wav glass.wav land.wav recharge.wav
  launch.wav warning.wav empty.wav locked.wav bonusFall.wav bonushit.wav BonusMusic.wav
  BonusLand.wav bonusmiss.wav intro.wav menuprompt.wav ending.wav)

QV_PIDS=()

fail() {
  echo "FAIL: $*" >&2
  for f in "$WORK"/*.log "$WORK"/*.err; do
    [ -f "$f" ] && { echo "--- $f" >&2; tail -n 40 "$f" >&2; }
  done
  exit 1
}

cleanup() {
  local pid
  for pid in "${QV_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${QV_PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  [ -n "${WORK:-}" ] && rm -rf "$WORK"
}

# Makes WORK and starts Xvfb on a display it picks itself (-displayfd), so parallel runs and
# other X servers on this machine never collide. Arguments go to Xvfb.
start_x() {
  WORK=$(mktemp -d /tmp/qv_e2e.XXXXXX)
  trap cleanup EXIT
  Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp "$@" 3>"$WORK/display" >"$WORK/xvfb.err" 2>&1 &
  QV_PIDS+=($!)
  local i
  for i in $(seq 100); do
    [ -s "$WORK/display" ] && break
    sleep 0.05
  done
  [ -s "$WORK/display" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -n1 "$WORK/display")"
}

# Puts the program in WORK/<name> with its sounds beside it: the project's own set when it
# holds every file these scenarios need, else short generated tones. Files named after the
# name are left out (to provoke a load failure).
stage_program() {
  local program=$1 source_dir=$2 name=$3
  shift 3
  local dir="$WORK/$name"
  mkdir -p "$dir/sounds"
  cp "$program" "$dir/quorvane"
  local f complete=1
  for f in "${QV_E2E_SOUNDS[@]}"; do
    [ -f "$source_dir/sounds/$f" ] || complete=0
  done
  if [ "$complete" = 1 ]; then
    cp -r "$source_dir/sounds/." "$dir/sounds/"
  else
    for f in "${QV_E2E_SOUNDS[@]}"; do
      local len=0.3
      case "$f" in intro.wav) len=6 ;; menumusic.wav) len=2 ;; esac
      sox -n -r 22050 -c 1 -b 16 "$dir/sounds/$f" synth "$len" sine 440 vol 0.5 ||
        fail "cannot make $f"
    done
  fi
  for f in "$@"; do rm -f "$dir/sounds/$f"; done
  mkdir -p "$dir/config"
}

# Starts the staged program; its pid goes to QV_PID. It writes what it mixes to WORK/NAME/out.wav
# instead of a sound card, in real time, unless QV_REAL_OUTPUT=1 sends it to the sound server.
# QV_RUN_WITH, when set, is a command the program runs under (chrt, say).
run_program() {
  local dir="$WORK/$1" capture="$WORK/$1/out.wav"
  [ "${QV_REAL_OUTPUT:-0}" = 1 ] && capture=
  QUORVANE_SOUND_CAPTURE="$capture" QUORVANE_SOUND_LOG="$WORK/$1.log" XDG_CONFIG_HOME="$dir/config" \
    XDG_DATA_HOME="$dir/data" \
    ${QV_RUN_WITH:-} "$dir/quorvane" >"$WORK/$1.out" 2>"$WORK/$1.err" &
  QV_PID=$!
  QV_PIDS+=("$QV_PID")
}

# wait_log LOG OP SUBJECT [SECONDS [COUNT]]: until LOG has COUNT (default 1) lines with that op
# and subject ("*": any).
wait_log() {
  local log=$1 op=$2 subject=$3 limit=${4:-20} count=${5:-1} i
  for i in $(seq $((limit * 20))); do
    awk -F'\t' -v op="$op" -v s="$subject" -v n="$count" \
      '$2 == op && (s == "*" || $4 == s) { found++ } END { exit !(found >= n) }' \
      "$log" 2>/dev/null && return 0
    kill -0 "$QV_PID" 2>/dev/null || break
    sleep 0.05
  done
  fail "no '$op $subject' (x$count) in $log"
}

# skip_speech LOG FILE [COUNT]: once FILE plays (the COUNTth time), cuts it short with Space, a
# key that does nothing else in the menus, and waits until it is over: the next key then meets
# the menu itself rather than the speech.
skip_speech() {
  wait_log "$1" play "$2" 20 "${3:-1}"
  xdotool key space
  wait_log "$1" release "$2" 20 "${3:-1}"
}

# wait_sound WAV: until the capture WAV, read as it grows, holds sound (a peak over 0.05).
wait_sound() {
  local i peak
  for i in $(seq 400); do
    peak=$(sox "$1" -n stat 2>&1 | awk '/^Maximum amplitude/ { print $3 }')
    awk -v p="${peak:-0}" 'BEGIN { exit !(p > 0.05) }' && return 0
    kill -0 "$QV_PID" 2>/dev/null || break
    sleep 0.05
  done
  fail "nothing heard in $1 (peak '${peak:-none}')"
}

# wait_exit [SECONDS]: until the program ends; its status goes to QV_STATUS.
wait_exit() {
  local limit=${1:-20} i
  for i in $(seq $((limit * 20))); do
    kill -0 "$QV_PID" 2>/dev/null || break
    sleep 0.05
  done
  kill -0 "$QV_PID" 2>/dev/null && fail "the program did not end"
  wait "$QV_PID"
  QV_STATUS=$?
}

# The window id of the first window whose name matches.
find_window() {
  timeout 10 xdotool search --sync --name "$1" | head -n1
}

# skip_to_menu LOG: once the introduction plays, focuses the game's window, skips the
# introduction with Space and waits until the main menu's prompt has been spoken.
skip_to_menu() {
  local win
  wait_log "$1" play intro.wav
  win=$(find_window "^Quor Vane$")
  xdotool windowfocus --sync "$win" || fail "cannot focus the window"
  xdotool key space
  wait_log "$1" release menuprompt.wav 30
}

# The window id of the message box, captioned "QuorVane", into BOX; fails when none comes up.
# xdotool's search cannot read the title SDL gives its X11 message box (WM_NAME in an encoding
# it does not decode), so the box is found in xwininfo's window tree (Debian's x11-utils).
find_box() {
  command -v xwininfo >/dev/null || fail "xwininfo (x11-utils) is needed to find the message box"
  local i
  BOX=""
  for i in $(seq 100); do
    BOX=$(xwininfo -root -tree | awk '$2 == "\"QuorVane\":" { print $1; exit }')
    [ -n "$BOX" ] && return 0
    sleep 0.05
  done
  fail "no message box captioned 'QuorVane'"
}

# "op subject" pairs of a sound log, without timing and without the simulator's key lines.
log_pairs() {
  awk -F'\t' '$2 != "key" { print $2 " " $4 }' "$1"
}
