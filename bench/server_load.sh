#!/usr/bin/env bash
# server_load.sh -- load on quorvane-scores with wrk over loopback. First two ceilings: nginx
# answering a constant 200 with one worker a core (nginx-light), the most a well-tuned server
# serves on this machine now, and scores-ceiling, quorvane-scores' own connections answering a
# constant with no store behind them. Then, on SQLite and on PostgreSQL, distinct submissions
# per second and leaderboard pages per second beside them, with latency percentiles and a check
# that every submission answered 200 is stored; and on SQLite a slow-client minute: submissions
# while 200 slow clients hold connections open. Each run is bounded.
# Usage: server_load.sh QUORVANE_SCORES [SECONDS_PER_RUN (default 10)] [SLOW_SECONDS (default 60,
# 0 to skip)]. QV_LOAD_CONNECTIONS lists the connection counts (default "16 64");
# QV_LOAD_OTHER names another build of quorvane-scores to measure beside it on SQLite.
set -euo pipefail
SCORES=$1
DURATION=${2:-10}
SLOW_DURATION=${3:-60}
CEILING=$(dirname "$SCORES")/scores-ceiling
THREADS=2 # wrk threads: this machine's cores are shared by client and server
# Each connection keeps one request in flight. With 64, submissions queue behind a commit and
# are stored together, as when many players finish at once; with 16 each commit holds fewer,
# and the figure is bound more by a commit's latency than by the server's capacity.
CONNECTION_COUNTS=${QV_LOAD_CONNECTIONS:-16 64}
OTHER=${QV_LOAD_OTHER:-}
SLOW_CLIENTS=200
command -v wrk >/dev/null || { echo "wrk is not installed (apt-get install wrk)" >&2; exit 1; }
[ -x "$CEILING" ] || { echo "no $CEILING: build the scores-ceiling target" >&2; exit 1; }

TMP=$(mktemp -d)
SERVER=
SLOW=
PG_CTL=
NGINX=
cleanup() {
  if [ -n "$NGINX" ]; then kill "$NGINX" 2>/dev/null || true; fi
  if [ -n "$SLOW" ]; then kill "$SLOW" 2>/dev/null || true; fi
  if [ -n "$SERVER" ]; then kill "$SERVER" 2>/dev/null || true; fi
  if [ -n "$PG_CTL" ]; then $PG_CTL stop -m immediate >/dev/null 2>&1 || true; fi
  rm -rf "$TMP"
}
trap cleanup EXIT

# Each request() is a new submission: level and score from a counter, the name from the wrk
# thread and the counter, so no two are the same and each must make a row of its own.
cat >"$TMP/submit.lua" <<'LUA'
local threads = {}
local counter = 0
sent = 0
accepted = 0
function setup(thread)
  table.insert(threads, thread)
  thread:set("id", #threads)
end
function request()
  counter = counter + 1
  sent = counter
  return wrk.format("GET", string.format(
    "/scores/quorvane.php?password=417bqwtn58&level=%d&score=%d&name=load-%d-%d&email=",
    counter % 3 + 1, counter % 10000001, id, counter))
end
function response(status, headers, body)
  if status == 200 then accepted = accepted + 1 end
end
function done(summary, latency, requests)
  local a, s = 0, 0
  for _, t in ipairs(threads) do
    a = a + t:get("accepted")
    s = s + t:get("sent")
  end
  io.write(string.format("ACCEPTED %d SENT %d\n", a, s))
end
LUA

start_server() {  # start_server PROGRAM [ARGS...]: starts it on a free port, sets SERVER and PORT
  "$@" --listen 127.0.0.1:0 >"$TMP/server.out" 2>"$TMP/server.err" &
  SERVER=$!
  PORT=
  for _ in $(seq 200); do
    PORT=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$TMP/server.out")
    [ -n "$PORT" ] && return 0
    sleep 0.05
  done
  echo "the server did not start: $(cat "$TMP/server.err")" >&2
  exit 1
}

stop_server() {
  kill -TERM "$SERVER"
  wait "$SERVER" || { echo "the server did not stop cleanly" >&2; exit 1; }
  SERVER=
}

# percentile NAME FILE: that line of wrk's latency distribution
percentile() { awk -v p="$1" '$1 == p { print $2 }' "$2"; }
rate() { awk '/^Requests\/sec/ { printf "%.0f", $2 }' "$1"; }

# submit SECONDS OUT: distinct submissions for that long; the report goes to OUT
submit() {
  wrk -t"$THREADS" -c"$CONNECTIONS" -d"$1s" --latency -s "$TMP/submit.lua" \
    "http://127.0.0.1:$PORT/" >"$2" 2>&1
}

# check_rows DB REPORT: every submission answered 200 is stored
check_rows() {
  local accepted sent rows
  read -r _ accepted _ sent < <(grep '^ACCEPTED' "$2")
  rows=$("$SCORES" --db "$1" --count)
  # A request still in flight when wrk stops may be stored without its answer being counted,
  # so rows may exceed the acknowledged count by as many as were in flight, never the sent.
  if [ "$rows" -ge "$accepted" ] && [ "$rows" -le "$sent" ]; then
    echo "rows stored: $rows; acknowledged: $accepted (+$((rows - accepted)) in flight at the" \
      "end); sent: $sent; nothing lost"
  else
    echo "rows stored: $rows; acknowledged: $accepted; sent: $sent; MISMATCH"
    FAILED=1
  fi
}

ceiling() {
  start_server "$CEILING"
  submit "$DURATION" "$TMP/ceiling.txt"
  kill "$SERVER"
  wait "$SERVER" 2>/dev/null || true
  SERVER=
  CEILING_RATE=$(rate "$TMP/ceiling.txt")
  echo "scores-ceiling (constant answer, no store): $CEILING_RATE/s," \
    "latency p50 $(percentile 50% "$TMP/ceiling.txt"), p99 $(percentile 99% "$TMP/ceiling.txt")"
}

# nginx_ceiling: nginx answering every request with a constant 200, one worker a core, in the
# foreground under this script, with its files in TMP.
nginx_ceiling() {
  if ! command -v nginx >/dev/null; then
    NGINX_RATE=
    echo "nginx: not measured, it is not installed (apt-get install nginx-light)"
    return
  fi
  local port
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  mkdir -p "$TMP/nginx"
  cat >"$TMP/nginx/nginx.conf" <<CONF
worker_processes $(nproc);
daemon off;
pid $TMP/nginx/nginx.pid;
error_log $TMP/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $TMP/nginx;
  proxy_temp_path $TMP/nginx;
  fastcgi_temp_path $TMP/nginx;
  uwsgi_temp_path $TMP/nginx;
  scgi_temp_path $TMP/nginx;
  server {
    listen 127.0.0.1:$port;
    location / { return 200 "stored\n"; }
  }
}
CONF
  nginx -p "$TMP/nginx" -c "$TMP/nginx/nginx.conf" &
  NGINX=$!
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.05
  done
  wrk -t"$THREADS" -c"$CONNECTIONS" -d"${DURATION}s" --latency -s "$TMP/submit.lua" \
    "http://127.0.0.1:$port/" >"$TMP/nginx.txt" 2>&1
  kill "$NGINX"
  wait "$NGINX" 2>/dev/null || true
  NGINX=
  NGINX_RATE=$(rate "$TMP/nginx.txt")
  echo "nginx (constant 200, $(nproc) workers): $NGINX_RATE/s," \
    "latency p50 $(percentile 50% "$TMP/nginx.txt"), p99 $(percentile 99% "$TMP/nginx.txt")"
}

# of RATE: "RATE/s (R of nginx, R of the ceiling)"
of() {
  awk -v r="$1" -v c="$CEILING_RATE" -v n="${NGINX_RATE:-0}" 'BEGIN {
    if (n > 0) printf "%d/s (%.2f of nginx, %.2f of scores-ceiling)", r, r / n, r / c
    else printf "%d/s (%.2f of scores-ceiling)", r, r / c }'
}

run() {  # run LABEL DB [PROGRAM]
  local label=$1 db=$2 program=${3:-$SCORES}
  echo "== $label =="
  start_server "$program" --db "$db"
  submit "$DURATION" "$TMP/submit.txt"
  echo "submissions: $(of "$(rate "$TMP/submit.txt")")," \
    "latency p50 $(percentile 50% "$TMP/submit.txt"), p99 $(percentile 99% "$TMP/submit.txt")"

  wrk -t"$THREADS" -c"$CONNECTIONS" -d"${DURATION}s" --latency \
    "http://127.0.0.1:$PORT/scores/" >"$TMP/board.txt" 2>&1
  echo "leaderboard pages: $(rate "$TMP/board.txt")/s," \
    "latency p50 $(percentile 50% "$TMP/board.txt"), p99 $(percentile 99% "$TMP/board.txt")," \
    "$(grep -o 'Non-2xx or 3xx responses: [0-9]*' "$TMP/board.txt" || echo 'all 200')"
  stop_server
  check_rows "$db" "$TMP/submit.txt"
}

# slow_clients COUNT: holds COUNT connections, each sending one more byte of a request every
# 4 s and never finishing it; one the server closes is opened again within a second. Runs
# until killed.
slow_clients() {
  trap '' PIPE
  local count=$1 fds=() i tick=0
  open() { exec {fd}<>"/dev/tcp/127.0.0.1/$PORT" && fds[$1]=$fd; }
  for ((i = 0; i < count; i++)); do open "$i"; done
  while true; do
    for ((i = 0; i < count; i++)); do
      # Readable means answered (408) or closed: the server let it go, so come back.
      if read -r -t 0 -u "${fds[$i]}" 2>/dev/null; then
        local closing=${fds[$i]}
        exec {closing}>&-
        open "$i"
      elif ((i % 4 == tick % 4)); then
        printf 'G' >&"${fds[$i]}" 2>/dev/null || true
      fi
    done
    tick=$((tick + 1))
    sleep 1
  done
}

slow_minute() {  # slow_minute DB
  echo "== SQLite, with $SLOW_CLIENTS slow clients holding connections (a byte every 4 s) =="
  start_server "$SCORES" --db "$1"
  slow_clients "$SLOW_CLIENTS" &
  SLOW=$!
  sleep 2
  submit "$SLOW_DURATION" "$TMP/slow.txt"
  kill "$SLOW"
  wait "$SLOW" 2>/dev/null || true
  SLOW=
  echo "submissions over ${SLOW_DURATION} s: $(of "$(rate "$TMP/slow.txt")")," \
    "latency p50 $(percentile 50% "$TMP/slow.txt"), p99 $(percentile 99% "$TMP/slow.txt")," \
    "max $(awk '/^    Latency/ { print $4 }' "$TMP/slow.txt")," \
    "$(grep -o 'Non-2xx or 3xx responses: [0-9]*' "$TMP/slow.txt" || echo 'all 200')"
  stop_server
  check_rows "$1" "$TMP/slow.txt"
}

FAILED=0
for CONNECTIONS in $CONNECTION_COUNTS; do
  echo "quorvane-scores under wrk: $THREADS threads, $CONNECTIONS connections, ${DURATION} s a" \
    "run, $(nproc) cores shared by client and server; load $(cut -d' ' -f1-3 /proc/loadavg)"
  nginx_ceiling
  ceiling
  run "SQLite (WAL, synchronous=NORMAL), $CONNECTIONS connections" "$TMP/scores-$CONNECTIONS.db"
  if [ -n "$OTHER" ]; then
    run "SQLite, $OTHER, $CONNECTIONS connections" "$TMP/other-$CONNECTIONS.db" "$OTHER"
  fi
done
if [ "$SLOW_DURATION" -gt 0 ]; then slow_minute "$TMP/slow.db"; fi
PG_BIN=${QV_PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)}
if [ -x "$PG_BIN/initdb" ]; then
  # PostgreSQL will not run as root; a cluster of our own, on a unix socket in TMP.
  AS=()
  if [ "$(id -u)" -eq 0 ]; then
    chown nobody "$TMP"
    AS=(runuser -u nobody --)
  fi
  "${AS[@]}" "$PG_BIN/initdb" -D "$TMP/pg" -A trust -U quorvane -E UTF8 --locale=C \
    >"$TMP/initdb.log" 2>&1 || { cat "$TMP/initdb.log"; exit 1; }
  PG_CTL="${AS[*]} $PG_BIN/pg_ctl -D $TMP/pg"
  $PG_CTL -l "$TMP/pg.log" -w -o "-k $TMP -c listen_addresses=''" start >/dev/null
  "$PG_BIN/createdb" -h "$TMP" -U quorvane scores
  run "PostgreSQL $("$PG_BIN/postgres" --version | awk '{print $3}') (default settings, fsync on)" \
    "postgresql:///scores?host=$TMP&user=quorvane"
else
  echo "== PostgreSQL: not measured, its server programs are not installed" \
    "(apt-get install postgresql) =="
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $FAILED
