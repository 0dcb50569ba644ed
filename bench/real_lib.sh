# real_lib.sh -- shared steps of the benchmarks that run the real program: CPU ticks from /proc,
# per cent of a core, CPU per thread from schedstat, the sound server's CPU and a pacat stream's
# beside it, and waits on its sound log. Sourced by idle_cpu.sh, game.sh, keys.sh and
# submit_wait.sh, which set LOG to the sound log they read.
HZ=$(getconf CLK_TCK)
ticks() { awk '{ print $14 + $15 }' "$1"; }  # user + system time of a stat file
percent() { awk -v t="$1" -v hz="$HZ" -v s="$2" 'BEGIN { printf "%.2f", 100 * t / hz / s }'; }
# thread_times PID: one line per thread, "TID NAME NANOSECONDS" (time on a CPU, from schedstat,
# which counts to the nanosecond where stat's ticks count in hundredths of a second).
thread_times() {
  local task
  for task in /proc/"$1"/task/*; do
    printf '%s %s %s\n' "${task##*/}" "$(tr ' ' '_' <"$task/comm")" "$(cut -d' ' -f1 "$task/schedstat")"
  done 2>/dev/null
}
# thread_report BEFORE AFTER SECONDS: the whole program's share of one core and each thread's
# (threads that came or went between the two readings count from zero), from two thread_times.
thread_report() {
  awk -v s="$3" '
    FNR == NR { before[$1] = $3; next }
    { used = $3 - before[$1]; total += used; n++
      line = line sprintf(" %s %.2f,", $2, 100 * used / 1e9 / s) }
    END { sub(/,$/, "", line)
          printf "whole program %.2f %% of one core (%d threads:%s)", 100 * total / 1e9 / s, n, line }
  ' <(echo "$1") <(echo "$2")
}
# server_ns: nanoseconds on a CPU of every thread of the sound server (QV_SOUND_SERVER_PID, set
# by scripts/bench), so far; 0 without one.
server_ns() {
  [ -n "${QV_SOUND_SERVER_PID:-}" ] || { echo 0; return; }
  cat /proc/"$QV_SOUND_SERVER_PID"/task/*/schedstat 2>/dev/null | awk '{ t += $1 } END { print t + 0 }'
}
# server_percent BEFORE AFTER SECONDS: the sound server's share of one core between two server_ns.
server_percent() { awk -v a="$1" -v b="$2" -v s="$3" 'BEGIN { printf "%.2f", 100 * (b - a) / 1e9 / s }'; }
# reference_cpu MS SECONDS: a pacat stream of digital silence with MS ms of buffer, as the game's
# output holds: its CPU per thread and the server's while it plays alone.
reference_cpu() {
  pacat --raw --format=float32le --rate=44100 --channels=2 --latency-msec="$1" </dev/zero &
  local pid=$! before after server_before
  sleep 1
  before=$(thread_times $pid)
  server_before=$(server_ns)
  sleep "$2"
  after=$(thread_times $pid)
  echo "  pacat at $1 ms beside it: $(thread_report "$before" "$after" "$2"); the sound server" \
    "$(server_percent "$server_before" "$(server_ns)" "$2") %"
  kill $pid
  wait $pid 2>/dev/null
}
# machine_note: the load averages, and a warning when the machine is busier than its cores.
machine_note() {
  awk -v cores="$(nproc)" '{ printf "load %s %s %s", $1, $2, $3
    if ($1 > cores) printf " (busier than its %d cores: the figure is not the game'"'"'s alone)", cores }' /proc/loadavg
}
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
# on_sound_server PID: whether the program's stream is on the PulseAudio server (the player's
# path), from the server's own list of streams.
on_sound_server() {
  pactl list sink-inputs 2>/dev/null | grep -q "application.process.id = \"$1\"" && echo yes || echo no
}
