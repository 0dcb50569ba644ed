#!/usr/bin/env bash
# leaderboard_page_test.sh -- the leaderboard as headless Chromium reads it (every score, verified
# or not): real tables with captions and column headers, and a hostile name shown as text, never
# run as a script.
# Usage: leaderboard_page_test.sh QUORVANE_SCORES
set -euo pipefail
SCORES=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v chromium >/dev/null || fail "chromium is not installed (apt-get install chromium)"

TMP=$(mktemp -d)
SERVER=
cleanup() {
  [ -n "$SERVER" ] && kill "$SERVER" 2>/dev/null && wait "$SERVER" 2>/dev/null
  rm -rf "$TMP"
}
trap cleanup EXIT

"$SCORES" --listen 127.0.0.1:0 --db "$TMP/scores.db" >"$TMP/server.out" 2>"$TMP/server.err" &
SERVER=$!
for _ in $(seq 100); do grep -q "listening on" "$TMP/server.out" && break; sleep 0.05; done
PORT=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$TMP/server.out")
[ -n "$PORT" ] || fail "the server did not start: $(cat "$TMP/server.err")"

# One GET over bash's own TCP, as the game sends it; prints the status line.
submit() {
  exec 3<>"/dev/tcp/127.0.0.1/$PORT"
  printf 'GET /scores/quorvane.php?%s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' "$1" >&3
  head -n1 <&3 | tr -d '\r'
  exec 3<&-
}
HOSTILE='name=%3Cscript%3Ealert%281%29%3C%2Fscript%3E&email=hidden%40example.org'
STATUS=$(submit "password=417bqwtn58&level=1&score=900&$HOSTILE")
[[ $STATUS == HTTP/1.?\ 200\ * ]] || fail "the hostile submission was answered $STATUS"
STATUS=$(submit 'password=417bqwtn58&level=3&score=1200&name=Ann%20%26%20Bo&email=')
[[ $STATUS == HTTP/1.?\ 200\ * ]] || fail "the second submission was answered $STATUS"

timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --disable-dev-shm-usage --user-data-dir="$TMP/profile" \
  --dump-dom "http://127.0.0.1:$PORT/scores/?all=1" >"$TMP/dom.html" 2>"$TMP/chromium.log" ||
  fail "chromium could not load the page: $(tail -n 5 "$TMP/chromium.log")"
DOM=$TMP/dom.html

count() { grep -o "$1" "$DOM" | wc -l; }
grep -q '<html lang="en">' "$DOM" || fail "no <html lang=\"en\">"
grep -q '<title>QuorVane high scores</title>' "$DOM" || fail "no title"
[ "$(count '<table>')" -eq 3 ] || fail "expected 3 tables, found $(count '<table>')"
[ "$(count '<caption>')" -eq 3 ] || fail "expected 3 captions"
[ "$(count '<th scope="col">')" -eq 15 ] || fail "expected 5 column headers per table"
grep -q '<h2 id="difficulty-1">Difficulty 1: Easy</h2>' "$DOM" || fail "no heading for difficulty 1"
# The name is the text of its cell; the browser built no script element from it.
grep -q '<td>&lt;script&gt;alert(1)&lt;/script&gt;</td><td>900</td>' "$DOM" ||
  fail "the hostile name is not shown as text in its cell"
[ "$(count '<script')" -eq 0 ] || fail "the page holds a script element"
grep -q '<td>Ann &amp; Bo</td><td>1200</td>' "$DOM" || fail "the name on difficulty 3 is missing"
! grep -q 'hidden@example.org' "$DOM" || fail "an e-mail address is on the page"
echo "PASS: the leaderboard reads as tables in Chromium, the hostile name as text"
