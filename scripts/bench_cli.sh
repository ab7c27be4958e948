#!/usr/bin/env bash
# Wall time of one one-shot `veksnmpnms get -v 2c` against a local snmpd, next to Debian's
# `snmpget -v2c` (no MIBs loaded) against the same snmpd in the same run.
# Usage: scripts/bench_cli.sh [build-dir] [runs]     (build-dir default: build/bench, runs: 30)
# Prints one figure line for the summary table (mean milliseconds of ours and of the reference).
set -euo pipefail

build=${1:-build/bench}
runs=${2:-30}
warmup=3
cli="$build/apps/cli/veksnmpnms"
oid=1.3.6.1.2.1.1.1.0
ready_tries=60       # snmpd start-up checks, 50 ms apart
port_attempts=5      # fresh ports tried when snmpd cannot bind one

for tool in snmpd snmpget; do
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

cat >"$dir/snmpd.conf" <<EOF
rocommunity public 127.0.0.1
sysDescr Bench agent
EOF

# Starts snmpd on a random high port; succeeds once it answers.
start_snmpd() {
    port=$((20000 + RANDOM % 40000))
    "$snmpd_bin" -f -Lf "$dir/snmpd.log" -C -c "$dir/snmpd.conf" -p "$dir/pid" "udp:127.0.0.1:$port" &
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
ours_cmd=("$cli" get -v 2c -c public "$target" "$oid")
ref_cmd=(snmpget -v2c -c public "$target" "$oid")

first_answer=$("${ours_cmd[@]}" 2>&1 || true)
if ! grep -q "执行成功" <<<"$first_answer"; then
    echo "bench_cli: veksnmpnms got no answer from $target" >&2
    exit 1
fi

# Mean wall time in milliseconds of a command over $runs runs (after $warmup unmeasured ones).
mean_ms_loop() {
    local total=0 start end
    for _ in $(seq "$warmup"); do "$@" >/dev/null 2>&1; done
    for _ in $(seq "$runs"); do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s%N)
        total=$((total + end - start))
    done
    awk -v t="$total" -v n="$runs" 'BEGIN { printf "%.3f", t / n / 1e6 }'
}

if command -v hyperfine >/dev/null 2>&1; then
    csv="$dir/hyperfine.csv"
    hyperfine -N --style none --warmup "$warmup" --runs "$runs" --export-csv "$csv" \
        "${ours_cmd[*]}" "${ref_cmd[*]}" >/dev/null
    ours=$(awk -F, 'NR == 2 { printf "%.3f", $2 * 1000 }' "$csv")
    ref=$(awk -F, 'NR == 3 { printf "%.3f", $2 * 1000 }' "$csv")
else
    ours=$(mean_ms_loop "${ours_cmd[@]}")
    ref=$(mean_ms_loop "${ref_cmd[@]}")
fi

printf 'FIGURE\tone-shot CLI get -v 2c (wall time)\t%s\tsnmpget -v2c\t%s\tms\n' "$ours" "$ref"
