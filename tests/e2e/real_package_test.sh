#!/bin/bash
# real_package_test.sh -- the Debian packages: scripts/package builds all three; they pass lintian and
# the desktop entry, AppStream, man page and service checks; the game unpacked from its package
# into a bare folder finds its sounds there and plays them; each program's --version is the
# package's. Skipped (status 77) when the packaging tools are not installed.
# Usage: real_package_test.sh QUORVANE QUORVANE_SIM SOURCE_DIR
set -u
SOURCE_DIR=$3
. "$(dirname "$0")/real_lib.sh"

for tool in dpkg-buildpackage dh lintian desktop-file-validate appstreamcli man systemd-analyze; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

start_x
# The browser version that scripts/test built from this tree goes into the package as it is.
if [ -f "$SOURCE_DIR/build-web/play/quorvane.wasm" ]; then
  export QV_WEB_PLAY="$SOURCE_DIR/build-web/play"
fi
bash "$SOURCE_DIR/scripts/package" "$WORK/debs" >"$WORK/package.log" 2>&1 ||
  fail "scripts/package failed"
GAME=$(ls "$WORK"/debs/quorvane_*.deb)
SCORES=$(ls "$WORK"/debs/quorvane-scores_*.deb)
DATA=$(ls "$WORK"/debs/quorvane-data_*_all.deb)
[ -f "$GAME" ] && [ -f "$SCORES" ] && [ -f "$DATA" ] || fail "scripts/package made no packages"
VERSION=$(dpkg-deb -f "$GAME" Version)

lintian --fail-on error,warning "$WORK"/debs/*.changes >"$WORK/lintian.log" 2>&1 ||
  fail "lintian: errors or warnings"

ROOT="$WORK/root"
dpkg -x "$GAME" "$ROOT" && dpkg -x "$SCORES" "$ROOT" && dpkg -x "$DATA" "$ROOT" ||
  fail "dpkg -x failed"
for deb in "$GAME" "$SCORES"; do
  dpkg-deb -f "$deb" Depends | grep -q "quorvane-data (= $VERSION)" ||
    fail "$(basename "$deb") does not depend on quorvane-data $VERSION"
done
SHARE="$ROOT/usr/share"
desktop-file-validate "$SHARE/applications/quorvane.desktop" >"$WORK/desktop.log" 2>&1 ||
  fail "desktop-file-validate: $(cat "$WORK/desktop.log")"
ICON=$(sed -n 's/^Icon=//p' "$SHARE/applications/quorvane.desktop")
[ -f "$SHARE/icons/hicolor/scalable/apps/$ICON.svg" ] || fail "no icon '$ICON' in the package"
for meta in "$SHARE"/metainfo/*.metainfo.xml; do
  appstreamcli validate --no-net "$meta" >"$WORK/appstream.log" 2>&1 ||
    fail "appstreamcli: $(cat "$WORK/appstream.log")"
  grep -q '<launchable type="desktop-id">quorvane.desktop</launchable>' "$meta" ||
    fail "the AppStream file does not launch the desktop entry"
done
for page in man6/quorvane.6.gz man6/quorvane-sim.6.gz man8/quorvane-scores.8.gz; do
  [ -f "$SHARE/man/$page" ] || fail "no $page"
  warnings=$(MANWIDTH=80 man --warnings -l "$SHARE/man/$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page: $warnings"
done

for f in index.html play.js mixer_worklet.js quorvane.js quorvane.wasm mixer.wasm sounds.json \
  sounds/intro.opus; do
  [ -f "$SHARE/quorvane-scores/play/$f" ] || fail "no play/$f in quorvane-scores"
done
# The server serves them from where the package puts them, by default.
env -u DISPLAY "$ROOT/usr/sbin/quorvane-scores" --help | grep -q "default /usr/share/quorvane-scores/play" ||
  fail "quorvane-scores does not serve /usr/share/quorvane-scores/play by default"

# Unpacked, it finds the sounds beside it to check replays with.
"$ROOT/usr/sbin/quorvane-scores" --listen 127.0.0.1:0 --db "$WORK/s.db" --play "$WORK" \
  >"$WORK/server.out" 2>&1 &
SERVER_PID=$!
QV_PIDS+=("$SERVER_PID")
until grep -q "replays\|not checked" "$WORK/server.out"; do
  kill -0 "$SERVER_PID" 2>/dev/null || fail "quorvane-scores ended: $(cat "$WORK/server.out")"
  sleep 0.05
done
grep -q "checking replays with the sounds in $ROOT/usr/share/quorvane/sounds" \
  "$WORK/server.out" || fail "quorvane-scores: $(cat "$WORK/server.out")"
kill -TERM "$SERVER_PID"

UNIT="$ROOT/lib/systemd/system/quorvane-scores.service"
# Exposure is scored in tenths: 39 is 3.9, the most that still rates "OK".
systemd-analyze security --offline=yes --threshold=39 "$UNIT" >"$WORK/security.log" \
  2>"$WORK/security.err" || fail "the service's exposure: $(tail -n1 "$WORK/security.log")"
[ -s "$WORK/security.err" ] && fail "systemd does not read the unit: $(cat "$WORK/security.err")"
dpkg-deb -I "$SCORES" conffiles | grep -qx /etc/default/quorvane-scores ||
  fail "/etc/default/quorvane-scores is not a conffile"

for program in usr/games/quorvane usr/games/quorvane-sim usr/sbin/quorvane-scores; do
  said=$(env -u DISPLAY "$ROOT/$program" --version)
  [ "$said" = "$(basename "$program") $VERSION" ] || fail "$program --version says '$said'"
done

# The unpacked game, started from an empty folder: the only sounds it can find are those under
# the unpacked usr/share/quorvane.
mkdir -p "$WORK/elsewhere"
cd "$WORK/elsewhere"
QUORVANE_SOUND_CAPTURE="$WORK/out.wav" QUORVANE_SOUND_LOG="$WORK/game.log" XDG_CONFIG_HOME="$WORK/config" \
  "$ROOT/usr/games/quorvane" >"$WORK/game.out" 2>"$WORK/game.err" &
QV_PID=$!
QV_PIDS+=("$QV_PID")
wait_log "$WORK/game.log" play intro.wav
kill -TERM "$QV_PID"
wait_exit
awk -F'\t' '$2 == "load" { print $4 }' "$WORK/game.log" >"$WORK/loaded.txt"
while read -r f; do
  [ -f "$SHARE/quorvane/sounds/$f" ] || fail "loaded $f, which is not in the package"
done <"$WORK/loaded.txt"
echo "PASS"
