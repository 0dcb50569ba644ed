#!/usr/bin/env bash
# run.sh -- runs one built fuzz target for a fixed number of inputs, starting from its committed
# seeds, and prints libFuzzer's figures. New inputs go to a scratch folder, never into the
# committed corpus; an input that fails is kept as BUILD_DIR/artifacts/NAME-crash-... and
# printed. Usage: fuzz/run.sh BUILD_DIR NAME RUNS (NAME as in fuzz/NAME_fuzz.cpp).
set -euo pipefail
QV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD=$1 NAME=$2 RUNS=$3
SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT
mkdir -p "$BUILD/artifacts"
"$BUILD/${NAME}_fuzz" -runs="$RUNS" -print_final_stats=1 -timeout=10 -artifact_prefix="$BUILD/artifacts/$NAME-" \
  "$SCRATCH" "$QV_ROOT/fuzz/corpus/$NAME" 2>&1
