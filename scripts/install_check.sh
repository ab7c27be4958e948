#!/usr/bin/env bash
# What a packager does, with each compiler: the plain Release configure with default options, the
# build of everything, `cmake --install` into a scratch prefix, then tests/install/install_test.sh on
# the installed tree (outside programs built with pkg-config, a GET between them). The build must
# not print a single warning: the default options do not make warnings errors, so they are looked
# for in the output. With clang the benchmarks are built as well, so that every source of the tree
# goes through both compilers.
#
# Each build starts from an empty directory; ccache (when installed) makes the compilations that did
# not change cost almost nothing and replays their warnings, so none is missed.
# Usage: scripts/install_check.sh [compiler...]     (default: gcc clang)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -gt 0 ]; then compilers=("$@"); else compilers=(gcc clang); fi
jobs=$(nproc)

if command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
    export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
    export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
fi

fail() {
    echo "install_check: $*" >&2
    exit 1
}

# Builds the configured tree and stops when the output names a warning.
build_without_warnings() {
    local dir=$1 what=$2 log="$1.log"
    cmake --build "$dir" -j"$jobs" >"$log" 2>&1 || { tail -n 40 "$log" >&2; fail "$what: the build failed"; }
    if grep -q "warning:" "$log"; then
        grep -B2 -A6 "warning:" "$log" | head -n 60 >&2
        fail "$what: the build printed warnings (see $log)"
    fi
}

for compiler in "${compilers[@]}"; do
    case "$compiler" in
        gcc) cc=gcc cxx=g++ ;;
        clang) cc=clang cxx=clang++ ;;
        *) fail "unknown compiler '$compiler' (gcc or clang)" ;;
    esac
    dir="build/install-check-$compiler"
    rm -rf "$dir"
    echo "install_check: $compiler: configure, build and install with default options"
    CC=$cc CXX=$cxx cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >"$dir.configure.log" 2>&1 ||
        { cat "$dir.configure.log" >&2; fail "$compiler: configure failed"; }
    build_without_warnings "$dir" "$compiler"
    tests/install/install_test.sh "$dir" examples "$cc"
    if [ "$compiler" = clang ]; then
        cmake -S . -B "$dir" -DVEK_BUILD_BENCH=ON >>"$dir.configure.log" 2>&1 || fail "clang: configure with benchmarks failed"
        build_without_warnings "$dir" "clang with benchmarks"
    fi
done
echo "install_check: ${compilers[*]}: ok"
