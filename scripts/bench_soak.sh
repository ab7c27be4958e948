#!/usr/bin/env bash
# A 60 s soak of the whole system: veksnmpagent, snmp_service and snmp_web_bridge on free ports while
# bench/soak_load drives 8 HTTP clients through the bridge, 1000 junk datagrams a second at the agent
# and at the service's trap port, and 4 manager threads polling agents (three more veksnmpagent
# processes serve those). Prints the answers per second, the errors and the resident memory of each
# program at the start and the end of the measured time as FIGURE lines for scripts/bench_summary.py.
# Target: no error apart from refusals to go faster, and no program's memory growing by 10 % or more.
# Usage: scripts/bench_soak.sh [build-dir] [seconds]   (default build/bench, 60)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/bench}
seconds=${2:-60}
warm_up=5
ready_tries=100   # start-up checks, 100 ms apart
warn_level=2
agent="$build/apps/veksnmpagent/veksnmpagent"
service="$build/apps/snmp_service/snmp_service"
bridge="$build/apps/snmp_web_bridge/snmp_web_bridge"
load="$build/bench/soak_load"

for bin in "$agent" "$service" "$bridge" "$load"; do
    [ -x "$bin" ] || { echo "bench_soak: $bin not found; build the benchmarks first (make bench)" >&2; exit 1; }
done

dir=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    if [ -n "${VEK_SOAK_KEEP:-}" ]; then echo "bench_soak: logs kept in $dir"; else rm -rf "$dir"; fi
}
trap cleanup EXIT

free_port() {
    python3 -c "import socket; s=socket.socket(socket.AF_INET, socket.SOCK_$1); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])"
}
agent_ports=()
for i in 0 1 2 3; do
    agent_ports+=("$(free_port DGRAM)")
    "$agent" -p "${agent_ports[$i]}" -lvl "$warn_level" </dev/null >"$dir/agent$i.log" 2>&1 &
    pids+=($!)
done
agent_pid=${pids[0]}
trap_port=$(free_port DGRAM)
service_port=$(free_port STREAM)
bridge_port=$(free_port STREAM)
VEK_SERVICE_PORT=$service_port VEK_SERVICE_TRAP_PORT=$trap_port "$service" --log-level WARN >"$dir/service.log" 2>&1 &
service_pid=$!
pids+=("$service_pid")
(cd "$dir" && exec "$OLDPWD/$bridge" --listen 127.0.0.1 --port "$bridge_port" --service-port "$service_port") \
    >"$dir/bridge.out" 2>&1 &
bridge_pid=$!
pids+=("$bridge_pid")

status_ok() {
    python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$bridge_port/status', timeout=1).read()" \
        2>/dev/null
}
for _ in $(seq "$ready_tries"); do
    status_ok && break
    sleep 0.1
done
status_ok || { echo "bench_soak: the bridge did not start" >&2; cat "$dir"/*.log >&2; exit 1; }
sleep 2.5   # the bridge's health check must have seen the service once

echo "bench_soak: ${seconds} s after ${warm_up} s of warm-up"
status=0
"$load" "$bridge_port" "$trap_port" "$warm_up" "$seconds" "${agent_ports[@]}" \
    "veksnmpagent=$agent_pid" "snmp_service=$service_pid" "snmp_web_bridge=$bridge_pid" || status=$?
for name in service.log bridge.out agent0.log; do
    echo "bench_soak: $name: $(wc -l <"$dir/$name") lines, $(wc -c <"$dir/$name") bytes"
done
exit "$status"
