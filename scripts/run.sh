#!/usr/bin/env bash
# Shows what the release build holds so far.
set -euo pipefail
build=${1:-build/release}
echo "Release build in $build:"
find "$build" -maxdepth 3 -type f \( -name '*.so' -o -name '*.a' -o -perm -u+x \) \
    ! -path '*/CMakeFiles/*' -printf '  %P\n' | sort
