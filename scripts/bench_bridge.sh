#!/usr/bin/env bash
# /snmp_get through snmp_web_bridge and snmp_service against a local veksnmpagent, next to a GET
# through the manager library directly against the same agent, in the same run (median and 99th
# percentile). Prints FIGURE lines for scripts/bench_summary.py.
# Usage: scripts/bench_bridge.sh [build-dir] [requests]   (default build/bench, 200)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/bench}
requests=${2:-200}
agent="$build/apps/veksnmpagent/veksnmpagent"
service="$build/apps/snmp_service/snmp_service"
bridge="$build/apps/snmp_web_bridge/snmp_web_bridge"
library="$build/nms/libvek_nms_sdk.so"
ready_tries=100   # start-up checks, 100 ms apart

for bin in "$agent" "$service" "$bridge" "$library"; do
    [ -e "$bin" ] || { echo "bench_bridge: $bin not found; build the programs first" >&2; exit 1; }
done

dir=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$dir"
}
trap cleanup EXIT

free_port() {
    python3 -c "import socket; s=socket.socket(socket.AF_INET, socket.SOCK_$1); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])"
}
agent_port=$(free_port DGRAM)
trap_port=$(free_port DGRAM)
service_port=$(free_port STREAM)
bridge_port=$(free_port STREAM)

"$agent" -p "$agent_port" -t "127.0.0.1:$trap_port" </dev/null >"$dir/agent.log" 2>&1 &
pids+=($!)
VEK_SERVICE_PORT=$service_port VEK_SERVICE_TRAP_PORT=$trap_port "$service" >"$dir/service.log" 2>&1 &
pids+=($!)
(cd "$dir" && exec "$OLDPWD/$bridge" --port "$bridge_port" --service-port "$service_port") >"$dir/bridge.out" 2>&1 &
pids+=($!)

status_ok() {
    python3 -c "import urllib.request,sys; urllib.request.urlopen('http://127.0.0.1:$bridge_port/status', timeout=1).read()" \
        2>/dev/null
}
for _ in $(seq "$ready_tries"); do
    status_ok && break
    sleep 0.1
done
status_ok || { echo "bench_bridge: the bridge did not start" >&2; cat "$dir"/*.log >&2; exit 1; }
sleep 2.5   # the bridge's health check must have seen the service once

python3 scripts/bench_bridge.py "$bridge_port" "$agent_port" "$library" "$requests"
