#!/usr/bin/env bash
# Standard SNMPv3 authPriv (HMAC-SHA-256 + AES-128-CFB) GET sysDescr.0 answered per second with 8
# requests outstanding: veksnmpagent (log level WARN) next to Debian's snmpd with the same user in
# the same run (target: at least twice snmpd). Prints FIGURE lines for scripts/bench_summary.py.
# Usage: scripts/bench_agent_v3.sh [build-dir] [seconds-per-run]   (default build/bench, 3)
set -euo pipefail

build=${1:-build/bench}
seconds=${2:-3}
agent="$build/apps/veksnmpagent/veksnmpagent"
load="$build/bench/agent_load"
outstanding=8
ready_tries=60        # start-up checks, 50 ms apart
warn_level=2
user=stdbench
auth_pass=benchauth123
priv_pass=benchpriv123

for bin in "$agent" "$load"; do
    [ -x "$bin" ] || { echo "bench_agent_v3: $bin not found; build the benchmarks first" >&2; exit 1; }
done
snmpd_bin=$(command -v snmpd || echo /usr/sbin/snmpd)
[ -x "$snmpd_bin" ] || { echo "bench_agent_v3: snmpd is not installed (scripts/install_deps.sh peers)" >&2; exit 1; }

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
        snmpget -v3 -l authPriv -u "$user" -a SHA-256 -A "$auth_pass" -x AES -X "$priv_pass" -t 0.2 -r 0 \
            "127.0.0.1:$1" 1.3.6.1.2.1.1.1.0 >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    echo "bench_agent_v3: nothing answers on port $1" >&2
    return 1
}

# field <name> <load output>: one value of the load generator's output line.
field() { awk -v k="$1" '{ for (i = 1; i < NF; i++) if ($i == k) print $(i + 1) }' <<<"$2"; }

ours_port=$(free_port)
"$agent" -p "$ours_port" -lvl "$warn_level" -b "$dir/engine_boots" \
    -s std -u "$user" -a SHA-256 -A "$auth_pass" -x AES -X "$priv_pass" </dev/null >"$dir/agent.log" 2>&1 &
pids+=("$!")

ref_port=$(free_port)
mkdir "$dir/snmpd-state"
cat >"$dir/snmpd.conf" <<CONF
createUser $user SHA-256 $auth_pass AES $priv_pass
rouser $user priv
sysDescr Bench agent
dontLogTCPWrappersConnects yes
CONF
"$snmpd_bin" -f -Lf "$dir/snmpd.log" -C -c "$dir/snmpd.conf" --persistentDir="$dir/snmpd-state" -p "$dir/pid" \
    "udp:127.0.0.1:$ref_port" &
pids+=("$!")

wait_ready "$ours_port"
wait_ready "$ref_port"

ours=$("$load" "$ours_port" "$outstanding" "$seconds" v3 "$user" "$auth_pass" "$priv_pass" std)
ref=$("$load" "$ref_port" "$outstanding" "$seconds" v3 "$user" "$auth_pass" "$priv_pass" std)
echo "veksnmpagent, standard v3 authPriv, $outstanding outstanding: $ours"
echo "snmpd,        standard v3 authPriv, $outstanding outstanding: $ref"
printf 'FIGURE\tagent standard v3 authPriv (SHA-256 + AES-128-CFB) GETs per second, %s outstanding (target >= 2x)\t%s\tsnmpd\t%s\t/s\n' \
    "$outstanding" "$(field answers_per_second "$ours")" "$(field answers_per_second "$ref")"
