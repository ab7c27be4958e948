#!/usr/bin/env bash
# Runs every benchmark of a build directory: the Google Benchmark programs, then the process-level
# benchmarks (scripts/bench_*.sh), and ends with one summary table of figures, references and ratios.
# Usage: scripts/run_bench.sh [build-dir]     (default build/bench)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
results="$build/results"
rm -rf "$results"
mkdir -p "$results"
status=0

for prog in "$build"/bench/*_bench; do
    [ -x "$prog" ] || continue
    name=$(basename "$prog")
    echo "== $name"
    "$prog" --benchmark_min_time=0.2 --benchmark_out="$results/$name.json" \
        --benchmark_out_format=json || status=1
done

# Process-level benchmarks print "FIGURE<TAB>..." lines (see scripts/bench_summary.py).
for script in scripts/bench_*.sh; do
    name=$(basename "$script" .sh)
    echo "== $name"
    if ! "$script" "$build" | tee "$results/$name.figures"; then
        echo "$name failed" >&2
        status=1
    fi
done

python3 scripts/bench_summary.py "$results"
exit $status
