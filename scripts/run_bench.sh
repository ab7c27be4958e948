#!/usr/bin/env bash
# Runs every benchmark program of a build directory.
set -euo pipefail
build=${1:-build/bench}
status=0
for prog in "$build"/bench/*_bench; do
    [ -x "$prog" ] || continue
    echo "== $(basename "$prog")"
    "$prog" --benchmark_min_time=0.2 || status=1
done
exit $status
