#!/usr/bin/env bash
# setup.sh -- installs the Debian packages the game needs (only those missing) and builds it.
# Sourced by scripts/play and scripts/test; BUILD_DIR and the package list may be set before.
set -euo pipefail

QV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$QV_ROOT/build}"
QV_CMAKE_ARGS=()
QV_WEB_CMAKE_ARGS=()

# To build and play.
QV_PACKAGES=(g++ cmake make pkg-config libsdl2-dev libpulse-dev libcurl4-openssl-dev libzstd-dev)
# The score server: SQLite, libpq and libmicrohttpd; libcrypto and libopusenc for its replays
# (built when they are there).
QV_SERVER_PACKAGES=(libsqlite3-dev libpq-dev libmicrohttpd-dev)
# To run the tests: GoogleTest, and for the real program a virtual X server, key presses and
# window lookup, sound analysis; for the score server, cpp-httplib as its tests' HTTP client, a
# PostgreSQL of its own and a browser for its page; a PulseAudio server to restart under the
# game; to build and run the fuzz targets and the sanitizer build: clang, its libFuzzer and
# sanitizer runtimes, and llvm-symbolizer; and clang-format, to check the code's layout.
QV_TEST_PACKAGES=(libgtest-dev libcpp-httplib-dev xvfb xauth xdotool x11-utils sox postgresql
                  chromium pulseaudio pulseaudio-utils clang libclang-rt-14-dev llvm
                  clang-format-14)
# To build the Debian packages (scripts/package), and for the test that builds them, to check
# them: lintian, the desktop entry, the AppStream file, the man pages, the service's exposure.
QV_PACKAGE_PACKAGES=(dpkg-dev debhelper)
QV_TEST_PACKAGES+=("${QV_PACKAGE_PACKAGES[@]}" lintian desktop-file-utils appstream man-db systemd)
# The benchmarks also measure audio latency and gaps against a PulseAudio null sink, whose
# monitor parec records, and the first sound through PipeWire's PulseAudio server too; load the
# machine with stress-ng, load the score server with wrk beside nginx answering a constant (the
# ceiling of a well-tuned server here), and run inside a D-Bus session bus of their own, as a
# desktop session has; a speech recogniser (pocketsphinx) tells whether the speech in play is
# understood over the play.
QV_BENCH_PACKAGES=(pulseaudio pulseaudio-utils pipewire-pulse wireplumber stress-ng wrk
                   nginx-light dbus-daemon pocketsphinx pocketsphinx-en-us sox)
# To build the browser version (scripts/web): emscripten, and opusenc for its compressed sounds.
QV_WEB_PACKAGES=(emscripten opus-tools cmake make)
# To regenerate the sound set (tools/make_sounds.sh): speech, sample work, music.
QV_SOUND_PACKAGES=(festival festvox-us-slt-hts sox libsox-fmt-all fluidsynth fluid-soundfont-gm g++)

qv_install() {
  local missing=()
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
}

# Configures and builds BUILD_DIR; arguments go to the build (e.g. --target quorvane).
qv_build() {
  cmake -S "$QV_ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
    "${QV_CMAKE_ARGS[@]}" >/dev/null
  cmake --build "$BUILD_DIR" -j "$(nproc)" "$@"
}

# Builds the browser version into DIR with emscripten's CMake wrapper. Debian's emcc finds its
# JavaScript modules only with NODE_PATH=/usr/share/nodejs, and some of its steps break on a
# python3 found before /usr/bin on PATH.
qv_build_web() {
  local dir=$1
  (
    export PATH="/usr/bin:$PATH" NODE_PATH=/usr/share/nodejs
    # A package build's compiler flags (hardening) are for the native programs, not WebAssembly.
    unset CFLAGS CXXFLAGS CPPFLAGS LDFLAGS
    emcmake cmake -S "$QV_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
      "${QV_WEB_CMAKE_ARGS[@]}" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
  )
}

# The browser tests' npm packages (puppeteer-core, which drives Debian's Chromium, and axe-core),
# exactly as tests/web/package-lock.json has them.
qv_install_web_test_tools() {
  command -v npm >/dev/null || qv_install npm
  (cd "$QV_ROOT/tests/web" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
}
