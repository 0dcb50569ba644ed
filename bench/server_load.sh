#!/usr/bin/env bash
# server_load.sh -- load on quorvane-scores with wrk over loopback, on SQLite and on PostgreSQL:
# distinct submissions per second, then leaderboard pages per second with latency percentiles,
# and a check that every submission answered 200 is stored. Each run is bounded.
# Usage: server_load.sh QUORVANE_SCORES [SECONDS_PER_RUN (default 10)]
set -euo pipefail
SCORES=$1
DURATION=${2:-10}
THREADS=2      # wrk threads: this machine's cores are shared with the server
CONNECTIONS=16 # the server's worker count: each keep-alive connection holds a worker
command -v wrk >/dev/null || { echo "wrk is not installed (apt-get install wrk)" >&2; exit 1; }

TMP=$(mktemp -d)
SERVER=
PG_CTL=
cleanup() {
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

start_server() {  # start_server DB: starts it on a free port, sets SERVER and PORT
  "$SCORES" --listen 127.0.0.1:0 --db "$1" >"$TMP/server.out" 2>"$TMP/server.err" &
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

run() {  # run LABEL DB
  local label=$1 db=$2
  echo "== $label =="
  start_server "$db"
  wrk -t"$THREADS" -c"$CONNECTIONS" -d"${DURATION}s" --latency -s "$TMP/submit.lua" \
    "http://127.0.0.1:$PORT/" >"$TMP/submit.txt" 2>&1
  local accepted sent
  read -r _ accepted _ sent < <(grep '^ACCEPTED' "$TMP/submit.txt")
  echo "submissions: $(awk '/^Requests\/sec/ { print $2 }' "$TMP/submit.txt")/s," \
    "latency p50 $(percentile 50% "$TMP/submit.txt"), p99 $(percentile 99% "$TMP/submit.txt")"

  wrk -t"$THREADS" -c"$CONNECTIONS" -d"${DURATION}s" --latency \
    "http://127.0.0.1:$PORT/scores/" >"$TMP/board.txt" 2>&1
  echo "leaderboard pages: $(awk '/^Requests\/sec/ { print $2 }' "$TMP/board.txt")/s," \
    "latency p50 $(percentile 50% "$TMP/board.txt"), p99 $(percentile 99% "$TMP/board.txt")," \
    "$(grep -o 'Non-2xx or 3xx responses: [0-9]*' "$TMP/board.txt" || echo 'all 200')"
  stop_server

  local rows
  rows=$("$SCORES" --db "$db" --count)
  # A request still in flight when wrk stops may be stored without its answer being counted,
  # so rows may exceed the accepted count, never the number sent.
  if [ "$rows" -ge "$accepted" ] && [ "$rows" -le "$sent" ]; then
    echo "rows stored: $rows; answered 200: $accepted; sent: $sent; nothing lost"
  else
    echo "rows stored: $rows; answered 200: $accepted; sent: $sent; MISMATCH"
    FAILED=1
  fi
}

FAILED=0
echo "quorvane-scores under wrk: $THREADS threads, $CONNECTIONS connections, ${DURATION} s a run," \
  "$(nproc) cores shared by client and server"
run "SQLite (WAL, synchronous=NORMAL)" "$TMP/scores.db"

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
exit $FAILED
