#!/usr/bin/env bash
# build.sh -- builds the fuzz targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer.
# Usage: fuzz/build.sh [BUILD_DIR] (default build-fuzz/ in the source tree). Needs clang and
# libclang-rt-14-dev (scripts/setup.sh lists them among the test packages).
set -euo pipefail
QV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-$QV_ROOT/build-fuzz}"
CLANGXX="${CLANGXX:-$(command -v clang++ || command -v clang++-14)}"
cmake -S "$QV_ROOT/fuzz" -B "$BUILD" -DCMAKE_CXX_COMPILER="$CLANGXX" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j2
