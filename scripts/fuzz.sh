#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each one for a while.
# Usage: scripts/fuzz.sh [seconds-per-target]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DVEK_BUILD_FUZZ=ON -DVEK_BUILD_TESTS=OFF -DVEK_WERROR=OFF >/dev/null
# Only the fuzz targets: the shared libraries and programs are not linked with the sanitizer runtime.
targets=()
for src in fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$src" .cpp)")
done
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

status=0
for target in "$build"/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    seeds="fuzz/corpus/${name#fuzz_}"
    work=$(mktemp -d)
    args=("$work")
    [ -d "$seeds" ] && args+=("$seeds")
    echo "fuzz: $name for ${seconds}s"
    if ! "$target" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix="$build/$name-" \
        "${args[@]}" >"$build/$name.log" 2>&1; then
        echo "fuzz: $name FAILED, see $build/$name.log" >&2
        tail -n 40 "$build/$name.log" >&2
        status=1
    fi
    rm -rf "$work"
done
exit $status
