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
me=bench_bridge
# shellcheck source=scripts/stack_common.sh
. scripts/stack_common.sh
require_programs "$agent" "$service" "$bridge" "$library"

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

wait_for_bridge "$bridge_port"

python3 scripts/bench_bridge.py "$bridge_port" "$agent_port" "$library" "$requests"
