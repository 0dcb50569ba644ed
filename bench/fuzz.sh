#!/usr/bin/env bash
# fuzz.sh -- builds the fuzz targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each for a million inputs from its seeds, printing executions per second.
# Usage: bench/fuzz.sh [BUILD_DIR] [RUNS] (defaults: build-fuzz/ in the source tree, 1000000).
set -euo pipefail
QV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-$QV_ROOT/build-fuzz}"
RUNS="${2:-1000000}"
mkdir -p "$BUILD"
bash "$QV_ROOT/fuzz/build.sh" "$BUILD" >"$BUILD/build.log" 2>&1 || { tail -n 30 "$BUILD/build.log"; exit 1; }
echo "== fuzz targets, $RUNS inputs each (sanitized build; $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg)) =="
status=0
for src in "$QV_ROOT"/fuzz/*_fuzz.cpp; do
  name=$(basename "$src" _fuzz.cpp)
  start=$(date +%s.%N)
  if out=$(bash "$QV_ROOT/fuzz/run.sh" "$BUILD" "$name" "$RUNS"); then
    end=$(date +%s.%N)
    awk -v n="$name" -v t0="$start" -v t1="$end" '
      /stat::number_of_executed_units/ { runs = $2 }
      /stat::average_exec_per_sec/ { libfuzzer = $2 }
      /stat::new_units_added/ { added = $2 }
      END { printf "%-16s %9d inputs in %6.1f s: %8.0f exec/s (libFuzzer: %d), %d new inputs\n",
                   n, runs, t1 - t0, runs / (t1 - t0), libfuzzer, added }' <<<"$out"
  else
    echo "$name: FAILED"
    tail -n 30 <<<"$out"
    status=1
  fi
done
exit $status
