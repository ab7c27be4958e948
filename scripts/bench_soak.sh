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
warn_level=2
agent="$build/apps/veksnmpagent/veksnmpagent"
service="$build/apps/snmp_service/snmp_service"
bridge="$build/apps/snmp_web_bridge/snmp_web_bridge"
load="$build/bench/soak_load"

me=bench_soak
# shellcheck source=scripts/stack_common.sh
. scripts/stack_common.sh
require_programs "$agent" "$service" "$bridge" "$load"

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

wait_for_bridge "$bridge_port"

echo "bench_soak: ${seconds} s after ${warm_up} s of warm-up"
status=0
"$load" "$bridge_port" "$trap_port" "$warm_up" "$seconds" "${agent_ports[@]}" \
    "veksnmpagent=$agent_pid" "snmp_service=$service_pid" "snmp_web_bridge=$bridge_pid" || status=$?
for name in service.log bridge.out agent0.log; do
    echo "bench_soak: $name: $(wc -l <"$dir/$name") lines, $(wc -c <"$dir/$name") bytes"
done
exit "$status"
