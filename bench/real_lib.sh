# real_lib.sh -- shared steps of the benchmarks that run the real program: CPU ticks from /proc,
# per cent of a core, and waits on its sound log. Sourced by game.sh and submit_wait.sh, which
# set LOG to the sound log they read.
HZ=$(getconf CLK_TCK)
ticks() { awk '{ print $14 + $15 }' "$1"; }  # user + system time of a stat file
percent() { awk -v t="$1" -v hz="$HZ" -v s="$2" 'BEGIN { printf "%.2f", 100 * t / hz / s }'; }
# wait_for OP FILE: until the log shows that operation on that file, or give up after 15 s.
wait_for() {
  local i
  for i in $(seq 300); do grep -q "	$1	[0-9-]*	$2	" "$LOG" 2>/dev/null && return 0; sleep 0.05; done
  echo "$(basename "$0"): no $1 $2 in the log" >&2
  exit 1
}
# skip_to_menu: once the introduction plays, focuses the window, skips it with Space and waits
# for the main menu's prompt.
skip_to_menu() {
  wait_for play intro.wav
  local win
  win=$(timeout 10 xdotool search --sync --name "^Quor Vane$" | head -n1)
  xdotool windowfocus --sync "$win" key space
  wait_for play menuprompt.wav
  sleep 0.5
}
