#!/usr/bin/env bash
# Wall time of one one-shot `veksnmpnms get -v 2c` against a local snmpd, next to Debian's
# `snmpget -v2c` (no MIBs loaded) against the same snmpd in the same run; and of a `veksnmpnms walk
# -v 2c` of the whole 1.3.6.1.2.1 next to `snmpbulkwalk -v2c` of it (both ten objects a request).
# Usage: scripts/bench_cli.sh [build-dir] [runs] [walk-runs]
#        (build-dir default: build/bench, runs: 30, walk-runs: 5)
# Prints one figure line each for the summary table (mean milliseconds of ours and of the reference).
set -euo pipefail

build=${1:-build/bench}
runs=${2:-30}
walk_runs=${3:-5}
warmup=3
cli="$build/apps/cli/veksnmpnms"
oid=1.3.6.1.2.1.1.1.0
ready_tries=60       # snmpd start-up checks, 50 ms apart
port_attempts=5      # fresh ports tried when snmpd cannot bind one

walk_root=1.3.6.1.2.1
for tool in snmpd snmpget snmpbulkwalk; do
    if ! command -v "$tool" >/dev/null 2>&1 && [ ! -x "/usr/sbin/$tool" ]; then
        echo "bench_cli: $tool is not installed (scripts/install_deps.sh peers)" >&2
        exit 1
    fi
done
if [ ! -x "$cli" ]; then
    echo "bench_cli: $cli not found; build the apps first" >&2
    exit 1
fi
snmpd_bin=$(command -v snmpd || echo /usr/sbin/snmpd)
snmpd_row_scans=-tcpTable,-udpTable,-udpEndpointTable

export MIBS=
dir=$(mktemp -d)
snmpd_pid=
cleanup() {
    if [ -n "$snmpd_pid" ]; then
        kill "$snmpd_pid" 2>/dev/null || true
        wait "$snmpd_pid" 2>/dev/null || true
    fi
    rm -rf "$dir"
}
trap cleanup EXIT

# The tables of the host's connections, processes and neighbours change from one walk to the next
# while other programs run; the view leaves them out, so that every walk reads the same objects, and
# snmpd runs without the modules that go through every connection row for each request.
cat >"$dir/snmpd.conf" <<EOF
view stable included .1.3.6.1.2.1
$(printf 'view stable excluded .1.3.6.1.2.1.%s\n' 4.22 4.35 6.13 6.19 6.20 7.5 7.7 25.4 25.5)
rocommunity public 127.0.0.1 -V stable
sysDescr Bench agent
EOF

# Starts snmpd on a random high port; succeeds once it answers.
start_snmpd() {
    port=$((20000 + RANDOM % 40000))
    "$snmpd_bin" -f -Lf "$dir/snmpd.log" -C -c "$dir/snmpd.conf" -p "$dir/pid" -I "$snmpd_row_scans" \
        "udp:127.0.0.1:$port" &
    snmpd_pid=$!
    for _ in $(seq "$ready_tries"); do
        if snmpget -v2c -c public -t 0.2 -r 0 "127.0.0.1:$port" "$oid" >/dev/null 2>&1; then
            return 0
        fi
        kill -0 "$snmpd_pid" 2>/dev/null || break
        sleep 0.05
    done
    kill "$snmpd_pid" 2>/dev/null || true
    wait "$snmpd_pid" 2>/dev/null || true
    snmpd_pid=
    return 1
}

started=0
for _ in $(seq "$port_attempts"); do
    if start_snmpd; then
        started=1
        break
    fi
done
if [ "$started" -ne 1 ]; then
    echo "bench_cli: snmpd did not start:" >&2
    cat "$dir/snmpd.log" >&2 || true
    exit 1
fi

target="127.0.0.1:$port"
first_answer=$("$cli" get -v 2c -c public "$target" "$oid" 2>&1 || true)
if ! grep -q "执行成功" <<<"$first_answer"; then
    echo "bench_cli: veksnmpnms got no answer from $target" >&2
    exit 1
fi

# Mean wall time in milliseconds of a command over $1 runs (after $warmup unmeasured ones).
mean_ms_loop() {
    local n=$1 total=0 start end
    shift
    for _ in $(seq "$warmup"); do "$@" >/dev/null 2>&1; done
    for _ in $(seq "$n"); do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s%N)
        total=$((total + end - start))
    done
    awk -v t="$total" -v n="$n" 'BEGIN { printf "%.3f", t / n / 1e6 }'
}

# Prints "ours reference": mean milliseconds over $1 runs of the commands $2 and $3 (words without
# spaces), run alternately by hyperfine when it is there.
compare_ms() {
    local n=$1 ours_line=$2 ref_line=$3
    if command -v hyperfine >/dev/null 2>&1; then
        local csv="$dir/hyperfine.csv"
        hyperfine -N --style none --warmup "$warmup" --runs "$n" --export-csv "$csv" "$ours_line" "$ref_line" >/dev/null
        awk -F, 'NR == 2 { ours = $2 } NR == 3 { printf "%.3f %.3f", ours * 1000, $2 * 1000 }' "$csv"
    else
        # shellcheck disable=SC2086  # the command lines are word lists
        echo "$(mean_ms_loop "$n" $ours_line) $(mean_ms_loop "$n" $ref_line)"
    fi
}

read -r ours ref < <(compare_ms "$runs" "$cli get -v 2c -c public $target $oid" "snmpget -v2c -c public $target $oid")
printf 'FIGURE\tone-shot CLI get -v 2c (wall time)\t%s\tsnmpget -v2c\t%s\tms\n' "$ours" "$ref"

# The walk: both must read about the same number of objects (the connection tables change while they
# run), or the times say nothing.
walk_cmd="$cli walk -v 2c -c public $target $walk_root"
bulkwalk_cmd="snmpbulkwalk -v2c -On -c public $target $walk_root"
# shellcheck disable=SC2086
walked=$($walk_cmd 2>&1 | sed -n 's/^遍历完成（共\([0-9]*\)个变量）$/\1/p')
# shellcheck disable=SC2086
listed=$($bulkwalk_cmd 2>/dev/null | grep -c '^\.')
if [ -z "$walked" ] || [ "$walked" -lt $((listed - listed / 10)) ] || [ "$walked" -gt $((listed + listed / 10)) ]; then
    echo "bench_cli: veksnmpnms walk read ${walked:-no} objects, snmpbulkwalk $listed" >&2
    exit 1
fi
read -r ours ref < <(compare_ms "$walk_runs" "$walk_cmd" "$bulkwalk_cmd")
printf 'FIGURE\tCLI walk -v 2c of %s, %s objects (wall time)\t%s\tsnmpbulkwalk -v2c\t%s\tms\n' \
    "$walk_root" "$listed" "$ours" "$ref"
# The SDK sends at most 300 new requests in a calendar second: a walk of that many requests (ten
# objects each, and the last that finds the end) waits at least this many whole seconds for it.
floor=$(awk -v n="$listed" -v per=10 -v limit=300 \
    'BEGIN { requests = int(n / per) + 1; printf "%.3f", int((requests - 1) / limit) * 1000 }')
printf 'FIGURE\tCLI walk -v 2c of %s, against the flow limit\t%s\tseconds the flow limit waits\t%s\tms\n' \
    "$walk_root" "$ours" "$floor"
