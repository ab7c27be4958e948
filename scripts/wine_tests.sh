#!/usr/bin/env bash
# The Windows build's tests under Wine, with one persistent wineserver for all of them: each test
# program once through CTest, then the Windows programs against the Linux programs and the standard
# tools (tests/windows/wine_e2e.sh). Prints the time of each part.
# Usage: scripts/wine_tests.sh <Windows build dir> <Linux build dir (its programs and libraries)>
set -euo pipefail

root_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=wine_env.sh
source "$root_dir/scripts/wine_env.sh"
jobs="${JOBS:-$(nproc)}"

wine_start
started=$SECONDS
ctest --test-dir "$1" --output-on-failure -j"$jobs"
echo "wine_tests: the test programs under Wine took $((SECONDS - started)) s"
started=$SECONDS
"$root_dir/tests/windows/wine_e2e.sh" "$1" "$2"
echo "wine_tests: the Windows programs end to end took $((SECONDS - started)) s"
