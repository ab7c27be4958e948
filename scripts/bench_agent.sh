#!/usr/bin/env bash
# Answers per second and latency of v2c GET sysDescr.0 served by veksnmpagent (log level WARN) with
# 1 and with 8 requests outstanding, next to Debian's snmpd serving the same object in the same run,
# and the resident memory of both; then the same agent's SNMPv3 authPriv (SHA-256 + AES-128) answers
# per second with 8 outstanding, next to its v2c figure of this run (target: at least 0.60 of it);
# then standard SNMPv3 authPriv (HMAC-SHA-256 + AES-128-CFB) with 8 outstanding, next to snmpd with
# the same user (target: at least twice snmpd); then snmpbulkwalk of the host's ifTable from both
# (see the end).
# Prints FIGURE lines for scripts/bench_summary.py.
# Usage: scripts/bench_agent.sh [build-dir] [seconds-per-run] [walks]   (default build/bench, 3, 100)
set -euo pipefail

build=${1:-build/bench}
seconds=${2:-3}
agent="$build/apps/veksnmpagent/veksnmpagent"
load="$build/bench/agent_load"
walker="$build/bench/agent_walk"
walks=${3:-100}
if_table=1.3.6.1.2.1.2.2
past_if_table=1.3.6.1.2.1.2.2.1.23   # after ifTable's last column: one request, then the walk ends
oid=1.3.6.1.2.1.1.1.0
ready_tries=60        # start-up checks, 50 ms apart
warn_level=2

for bin in "$agent" "$load" "$walker"; do
    [ -x "$bin" ] || { echo "bench_agent: $bin not found; build the benchmarks first" >&2; exit 1; }
done
snmpd_bin=$(command -v snmpd || echo /usr/sbin/snmpd)
[ -x "$snmpd_bin" ] || { echo "bench_agent: snmpd is not installed (scripts/install_deps.sh peers)" >&2; exit 1; }

export MIBS=
dir=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$dir"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

wait_ready() {
    for _ in $(seq "$ready_tries"); do
        snmpget -v2c -c public -t 0.2 -r 0 "127.0.0.1:$1" "$oid" >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    echo "bench_agent: nothing answers on port $1" >&2
    return 1
}

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# field <name> <load output>: one value of the load generator's output line.
field() { awk -v k="$1" '{ for (i = 1; i < NF; i++) if ($i == k) print $(i + 1) }' <<<"$2"; }

v3_user=bench
v3_auth=benchauth123
v3_priv=benchpriv123
std_user=stdbench
ours_port=$(free_port)
"$agent" -p "$ours_port" -lvl "$warn_level" -b "$dir/engine_boots" \
    -u "$v3_user" -a SHA256 -A "$v3_auth" -x AES128 -X "$v3_priv" \
    -s std -u "$std_user" -a SHA-256 -A "$v3_auth" -x AES -X "$v3_priv" </dev/null >"$dir/agent.log" 2>&1 &
ours_pid=$!
pids+=("$ours_pid")

ref_port=$(free_port)
mkdir "$dir/snmpd-state"
cat >"$dir/snmpd.conf" <<CONF
rocommunity public 127.0.0.1
createUser $std_user SHA-256 $v3_auth AES $v3_priv
rouser $std_user priv
sysDescr Bench agent
CONF
"$snmpd_bin" -f -Lf "$dir/snmpd.log" -C -c "$dir/snmpd.conf" --persistentDir="$dir/snmpd-state" -p "$dir/pid" \
    "udp:127.0.0.1:$ref_port" &
ref_pid=$!
pids+=("$ref_pid")

wait_ready "$ours_port"
wait_ready "$ref_port"

v2c_8=0
for outstanding in 1 8; do
    ours=$("$load" "$ours_port" "$outstanding" "$seconds")
    [ "$outstanding" = 8 ] && v2c_8=$(field answers_per_second "$ours")
    ref=$("$load" "$ref_port" "$outstanding" "$seconds")
    echo "veksnmpagent, $outstanding outstanding: $ours"
    echo "snmpd,        $outstanding outstanding: $ref"
    printf 'FIGURE\tagent GETs answered per second, %s outstanding\t%s\tsnmpd\t%s\t/s\n' "$outstanding" \
        "$(field answers_per_second "$ours")" "$(field answers_per_second "$ref")"
    printf 'FIGURE\tagent GET median latency, %s outstanding\t%s\tsnmpd\t%s\tus\n' "$outstanding" \
        "$(field median_us "$ours")" "$(field median_us "$ref")"
done
printf 'FIGURE\tagent resident memory after the load\t%s\tsnmpd\t%s\tkB\n' "$(rss_kb "$ours_pid")" "$(rss_kb "$ref_pid")"

v3=$("$load" "$ours_port" 8 "$seconds" v3 "$v3_user" "$v3_auth" "$v3_priv")
echo "veksnmpagent, v3 authPriv, 8 outstanding: $v3"
printf 'FIGURE\tagent v3 authPriv (SHA-256 + AES-128) GETs per second, 8 outstanding (target >= 0.60)\t%s\tsame agent, v2c\t%s\t/s\n' \
    "$(field answers_per_second "$v3")" "$v2c_8"

std=$("$load" "$ours_port" 8 "$seconds" v3 "$std_user" "$v3_auth" "$v3_priv" std)
std_ref=$("$load" "$ref_port" 8 "$seconds" v3 "$std_user" "$v3_auth" "$v3_priv" std)
echo "veksnmpagent, standard v3 authPriv, 8 outstanding: $std"
echo "snmpd,        standard v3 authPriv, 8 outstanding: $std_ref"
printf 'FIGURE\tagent standard v3 authPriv (SHA-256 + AES-128-CFB) GETs per second, 8 outstanding (target >= 2x)\t%s\tsnmpd\t%s\t/s\n' \
    "$(field answers_per_second "$std")" "$(field answers_per_second "$std_ref")"

# snmpbulkwalk of ifTable (v2c, the tool's default of 10 repetitions), the runs against the two
# agents interleaved so that a busy machine slows both alike: the median wall time of one walk; the
# same net of the tool's own start-up (a walk that ends after its first request, timed the same way,
# taken off); and the agents' share, the same GET-BULK requests made by agent_walk without a tool.
echo "ifTable: $(snmpbulkwalk -v2c -c public "127.0.0.1:$ours_port" "$if_table" | wc -l) objects from" \
    "veksnmpagent, $(snmpbulkwalk -v2c -c public "127.0.0.1:$ref_port" "$if_table" | wc -l) from snmpd"
python3 - "$ours_port" "$ref_port" "$walks" "$if_table" "$past_if_table" <<'PY'
import statistics, subprocess, sys, time

ours, ref, walks, table, past = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5]

def walk_ms(port, oid):
    start = time.perf_counter()
    subprocess.run(["snmpbulkwalk", "-v2c", "-c", "public", "-On", "127.0.0.1:" + port, oid],
                   stdout=subprocess.DEVNULL, check=True)
    return (time.perf_counter() - start) * 1e3

runs = {(port, oid): [] for port in (ours, ref) for oid in (table, past)}
for _ in range(walks):
    for key in runs:
        runs[key].append(walk_ms(*key))
median = {key: statistics.median(values) for key, values in runs.items()}
whole = {port: median[(port, table)] for port in (ours, ref)}
net = {port: max(median[(port, table)] - median[(port, past)], 0.001) for port in (ours, ref)}
print("FIGURE\tsnmpbulkwalk of ifTable, wall time per walk\t%.3f\tsnmpd\t%.3f\tms" % (whole[ours], whole[ref]))
print("FIGURE\tsnmpbulkwalk of ifTable, net of the tool's start-up\t%.3f\tsnmpd\t%.3f\tms" % (net[ours], net[ref]))
PY
ours_walk=$("$walker" "$ours_port" "$walks" "$if_table")
ref_walk=$("$walker" "$ref_port" "$walks" "$if_table")
echo "veksnmpagent, the walk's requests alone: $ours_walk"
echo "snmpd,        the walk's requests alone: $ref_walk"
printf 'FIGURE\tifTable GET-BULK walk, the requests of snmpbulkwalk alone (target 0.5)\t%s\tsnmpd\t%s\tus\n' \
    "$(field walk_median_us "$ours_walk")" "$(field walk_median_us "$ref_walk")"
