#!/usr/bin/env bash
# Usage: install_test.sh <build-dir> <examples-dir> <c-compiler> [extra compiler flags]
set -euo pipefail
build=$1
examples=$2
cc=$3
extra_flags=${4:-}
ready_tries=50   # agent start-up checks, 100 ms apart

work=$(mktemp -d)
agent_pid=
cleanup() {
    if [ -n "$agent_pid" ]; then
        kill "$agent_pid" 2>/dev/null || true
        wait "$agent_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || fail "cmake --install failed: $(cat "$work/install.log")"
for file in include/vek_nms_sdk.h include/vek_agent_sdk.h bin/veksnmpnms bin/veksnmpagent bin/snmp_service \
            bin/snmp_web_bridge bin/snmp_api_demo; do
    [ -e "$prefix/$file" ] || fail "$file is not installed"
done
pc_dir=$(dirname "$(find "$prefix" -name vek_nms_sdk.pc | head -n 1)")
[ -f "$pc_dir/vek_agent_sdk.pc" ] || fail "the pkg-config files are not installed"
export PKG_CONFIG_PATH="$pc_dir"

# shellcheck disable=SC2046,SC2086  # pkg-config output and the flags are word lists
"$cc" $extra_flags -o "$work/minimal_manager" "$examples/minimal_manager.c" $(pkg-config --cflags --libs vek_nms_sdk) ||
    fail "minimal_manager does not build"
# shellcheck disable=SC2046,SC2086
"$cc" $extra_flags -o "$work/minimal_agent" "$examples/minimal_agent.c" $(pkg-config --cflags --libs vek_agent_sdk) ||
    fail "minimal_agent does not build"

# shellcheck disable=SC2046,SC2086
"$cc" $extra_flags -o "$work/table_agent" "$examples/table_agent.c" $(pkg-config --cflags --libs vek_agent_sdk) ||
    fail "table_agent does not build"
# shellcheck disable=SC2046,SC2086
"$cc" $extra_flags -o "$work/walk_manager" "$examples/walk_manager.c" $(pkg-config --cflags --libs vek_nms_sdk) ||
    fail "walk_manager does not build"

port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$work/minimal_agent" "$port" >"$work/agent.log" 2>&1 &
agent_pid=$!

answer=
for _ in $(seq "$ready_tries"); do
    if answer=$("$work/minimal_manager" 127.0.0.1 "$port" 2>&1); then
        break
    fi
    kill -0 "$agent_pid" 2>/dev/null || fail "minimal_agent ended: $(cat "$work/agent.log")"
    sleep 0.1
done
grep -q '^1.3.6.1.2.1.1.1.0 = .' <<<"$answer" || fail "minimal_manager got no sysDescr: $answer"

counter=$("$prefix/bin/veksnmpnms" get -v 2c -c public "127.0.0.1:$port" 1.3.6.1.4.1.54321.1.0)
grep -q '1.3.6.1.4.1.54321.1.0 = UINT32: [1-9]' <<<"$counter" || fail "the agent's own object did not answer: $counter"

kill -INT "$agent_pid"
wait "$agent_pid" || fail "minimal_agent did not stop cleanly on SIGINT"
agent_pid=

# The table example: its rows walked, a port switched on through its writable column.
"$work/table_agent" "$port" >"$work/table.log" 2>&1 &
agent_pid=$!
cli="$prefix/bin/veksnmpnms"
row='1.3.6.1.4.1.54321.2.1.2.2 = STRING: lan1'
table=
for _ in $(seq "$ready_tries"); do
    table=$("$cli" bulkwalk -v 2c -c public -t 500 "127.0.0.1:$port" 1.3.6.1.4.1.54321.2 2>&1 || true)
    grep -q "$row" <<<"$table" && break
    kill -0 "$agent_pid" 2>/dev/null || fail "table_agent ended: $(cat "$work/table.log")"
    sleep 0.1
done
grep -q "$row" <<<"$table" || fail "the table's rows did not answer: $table"
"$cli" set -v 2c -c private "127.0.0.1:$port" 1.3.6.1.4.1.54321.2.1.3.3 i 1 >/dev/null
switched=$("$cli" get -v 2c -c public "127.0.0.1:$port" 1.3.6.1.4.1.54321.2.1.3.3)
grep -q '1.3.6.1.4.1.54321.2.1.3.3 = INTEGER: 1' <<<"$switched" || fail "the table's column was not written: $switched"

# The walk example reads the whole table (three rows of three columns), the switched port included.
walked=$("$work/walk_manager" 127.0.0.1 "$port" 1.3.6.1.4.1.54321.2 2>&1) || fail "walk_manager failed: $walked"
grep -q '^1.3.6.1.4.1.54321.2.1.2.2 = lan1$' <<<"$walked" || fail "walk_manager missed a row: $walked"
grep -q '^1.3.6.1.4.1.54321.2.1.3.3 = 1$' <<<"$walked" || fail "walk_manager missed the switched port: $walked"
grep -q '^9 objects$' <<<"$walked" || fail "walk_manager did not read the table exactly: $walked"
echo "install_test: installed tree, pkg-config builds, a GET between the two programs, the table and walk examples: ok"
