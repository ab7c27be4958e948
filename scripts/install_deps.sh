#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, when they are missing.
# Usage: scripts/install_deps.sh [package-set...]   (sets: build, peers; default: build)
set -euo pipefail

build_packages=(cmake g++ clang libclang-rt-14-dev ninja-build libgtest-dev libgmock-dev
                libbenchmark-dev libssl-dev pkg-config ccache)
peer_packages=(snmp snmpd snmptrapd)

wanted=()
for set in "${@:-build}"; do
    case "$set" in
        build) wanted+=("${build_packages[@]}") ;;
        peers) wanted+=("${peer_packages[@]}") ;;
        *) echo "install_deps: unknown package set '$set'" >&2; exit 2 ;;
    esac
done

missing=()
for pkg in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "install_deps: missing Debian packages: ${missing[*]}" >&2
    echo "install_deps: run as root, or install them with: sudo apt-get install -y ${missing[*]}" >&2
    exit 1
fi

echo "install_deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Keep package scripts from starting system daemons (snmpd would take port 161).
policy=/usr/sbin/policy-rc.d
created_policy=0
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod +x "$policy"
    created_policy=1
fi
trap '[ "$created_policy" -eq 1 ] && rm -f "$policy"' EXIT
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
