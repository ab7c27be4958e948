#!/usr/bin/env bash
# Starts the whole system on this machine from a build: the sample agent veksnmpagent, the HTTP
# service snmp_service and the browser bridge snmp_web_bridge. Waits until all three answer, prints
# the page's address and commands to try, and stops all three on Ctrl+C (SIGINT or SIGTERM).
#
# Usage: scripts/run.sh [build-dir]     (default build/release of this source tree)
#
# Ports, defaults in brackets; a port given here is used as it is, without any fallback:
#   VEK_RUN_AGENT_PORT     UDP, the agent                      [161, or 1161 when 161 may not be bound]
#   VEK_RUN_TRAP_PORT      UDP, the service's notifications    [162, or 1162 when 162 may not be bound]
#   VEK_RUN_SERVICE_PORT   TCP, the HTTP service               [8099]
#   VEK_RUN_BRIDGE_PORT    TCP, the web page                   [8098]
# Other settings:
#   VEK_BRIDGE_AUTH        user:password the web page asks for  [none: the page is open to anyone
#                          who reaches the port, and the bridge says so in its log]
#   VEK_RUN_LOG_LEVEL      the HTTP service's manager-library log level [WARN]
#   VEK_RUN_LOG_DIR        where the programs' output goes     [<build-dir>/run-logs]
#   VEK_RUN_READY_SECONDS  how long to wait for all three to answer [30]
#
# Exit status: 0 after a stop by signal; 1 when a port is taken, a program is missing, fails to start,
# ends on its own or does not stop cleanly; 2 for an unusable setting.
set -uo pipefail

# A shell starts background commands with SIGINT ignored, and a signal ignored on entry cannot be
# trapped: start again with the default action so that Ctrl+C and `kill -INT` still stop the system.
if [ -n "$(trap -p INT)" ] && [ -z "${VEK_RUN_SIGNALS_RESET:-}" ] && env --default-signal=INT true 2>/dev/null; then
    VEK_RUN_SIGNALS_RESET=1 exec env --default-signal=INT "$BASH" "$0" "$@"
fi
unset VEK_RUN_SIGNALS_RESET

readonly default_agent_port=161
readonly fallback_agent_port=1161
readonly default_trap_port=162
readonly fallback_trap_port=1162
readonly default_service_port=8099
readonly default_bridge_port=8098
readonly default_ready_seconds=30
readonly default_log_level=WARN  # the service's own default (DEBUG) writes lines for every datagram
readonly stop_seconds=5          # grace time after SIGTERM before SIGKILL
readonly poll_interval=0.2       # seconds between start-up and stop checks
readonly probe_timeout_ms=500    # one SNMP probe of the agent
readonly status_sigint=130       # a child ended by SIGINT
readonly status_sigterm=143      # a child ended by SIGTERM
readonly exit_failed=1
readonly exit_bad_setting=2
# Results of port_check (any other result: the port is in use).
readonly port_free=0
readonly port_denied=2

start_dir=$PWD
source_dir=$(cd "$(dirname "$0")/.." && pwd)

fail() {
    echo "run: $*" >&2
    exit "$exit_failed"
}

# A path as the caller would type it: relative to the directory the script was started from when
# it lies below it.
shown_path() {
    case "$1" in
    "$start_dir"/*) printf '%s\n' "${1#"$start_dir"/}" ;;
    *) printf '%s\n' "$1" ;;
    esac
}

build_arg=${1:-$source_dir/build/release}
[ -d "$build_arg" ] || fail "build directory $build_arg does not exist; build first (make run does)"
build=$(cd "$build_arg" && pwd)

agent_bin="$build/apps/veksnmpagent/veksnmpagent"
service_bin="$build/apps/snmp_service/snmp_service"
bridge_bin="$build/apps/snmp_web_bridge/snmp_web_bridge"
cli_bin="$build/apps/cli/veksnmpnms"
for bin in "$agent_bin" "$service_bin" "$bridge_bin" "$cli_bin"; do
    [ -x "$bin" ] || fail "$bin is missing; the build did not produce it"
done
command -v python3 >/dev/null || fail "python3 is needed to check the ports; install it (apt-get install python3)"

# ---- ports ----

# The port from the environment variable, or nothing when it is not set; stops on a bad value.
port_setting() {
    local name=$1 value=${!1:-}
    [ -z "$value" ] && return 0
    if [[ ! $value =~ ^[0-9]{1,5}$ ]] || ((10#$value < 1 || 10#$value > 65535)); then
        echo "run: $name=$value is not a port number (1-65535)" >&2
        exit "$exit_bad_setting"
    fi
    printf '%d\n' "$((10#$value))"
}

# Whether 0.0.0.0:<port> can be bound for proto tcp or udp the way the programs bind it:
# port_free, port_in_use or port_denied (a privileged port without root).
port_check() {
    python3 - "$1" "$2" <<'PY'
import socket, sys
FREE, IN_USE, DENIED = 0, 1, 2
kind = socket.SOCK_STREAM if sys.argv[1] == "tcp" else socket.SOCK_DGRAM
s = socket.socket(socket.AF_INET, kind)
if kind == socket.SOCK_STREAM:
    # The programs' listeners reuse the address: connections still in TIME_WAIT do not count.
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
try:
    s.bind(("0.0.0.0", int(sys.argv[2])))
except PermissionError:
    sys.exit(DENIED)
except OSError:
    sys.exit(IN_USE)
sys.exit(FREE)
PY
}

# Says why the port cannot be used and stops.
port_unusable() {
    local proto=$1 port=$2 role=$3 result=$4 list_opt=-ltnp
    [ "$proto" = udp ] && list_opt=-lunp
    if [ "$result" -eq "$port_denied" ]; then
        fail "${proto^^} port $port ($role) may not be bound by this user (ports below 1024 need root)"
    fi
    fail "${proto^^} port $port ($role) is already in use; see what holds it with: ss $list_opt 'sport = :$port'"
}

# Picks a UDP port: the one set in the environment (must be usable), else the default, else the
# fallback when the default is privileged and this user may not bind it.
choose_udp_port() {
    local setting=$1 default=$2 fallback=$3 role=$4 port result
    port=$(port_setting "$setting") || exit
    if [ -n "$port" ]; then
        port_check udp "$port"
        result=$?
        [ "$result" -eq "$port_free" ] || port_unusable udp "$port" "$role" "$result"
        echo "$port"
        return
    fi
    port_check udp "$default"
    result=$?
    if [ "$result" -eq "$port_denied" ]; then
        port=$fallback
        port_check udp "$port"
        result=$?
    else
        port=$default
    fi
    [ "$result" -eq "$port_free" ] || port_unusable udp "$port" "$role" "$result"
    echo "$port"
}

choose_tcp_port() {
    local setting=$1 default=$2 role=$3 port result
    port=$(port_setting "$setting") || exit
    port=${port:-$default}
    port_check tcp "$port"
    result=$?
    [ "$result" -eq "$port_free" ] || port_unusable tcp "$port" "$role" "$result"
    echo "$port"
}

agent_port=$(choose_udp_port VEK_RUN_AGENT_PORT "$default_agent_port" "$fallback_agent_port" "agent veksnmpagent") ||
    exit
trap_port=$(choose_udp_port VEK_RUN_TRAP_PORT "$default_trap_port" "$fallback_trap_port" "notifications of snmp_service") ||
    exit
service_port=$(choose_tcp_port VEK_RUN_SERVICE_PORT "$default_service_port" "HTTP service snmp_service") || exit
bridge_port=$(choose_tcp_port VEK_RUN_BRIDGE_PORT "$default_bridge_port" "web page snmp_web_bridge") || exit
if [ "$agent_port" = "$trap_port" ]; then
    echo "run: the agent and the notification listener cannot share UDP port $agent_port" >&2
    exit "$exit_bad_setting"
fi
if [ "$service_port" = "$bridge_port" ]; then
    echo "run: the HTTP service and the web page cannot share TCP port $service_port" >&2
    exit "$exit_bad_setting"
fi

ready_seconds=${VEK_RUN_READY_SECONDS:-$default_ready_seconds}
if [[ ! $ready_seconds =~ ^[1-9][0-9]{0,3}$ ]]; then
    echo "run: VEK_RUN_READY_SECONDS=$ready_seconds is not a number of seconds (1-9999)" >&2
    exit "$exit_bad_setting"
fi

logs=${VEK_RUN_LOG_DIR:-$build/run-logs}
mkdir -p "$logs" || fail "cannot create the log directory $logs"
logs=$(cd "$logs" && pwd)

# ---- the three processes ----

names=(veksnmpagent snmp_service snmp_web_bridge)
pids=()

log_of() { printf '%s/%s.log\n' "$logs" "$1"; }

# True while the process runs (an ended child that is not reaped yet does not count).
alive() {
    local stat
    { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}

# Statuses of a clean stop: a normal end, or the default action of Ctrl+C's SIGINT or of SIGTERM
# (the bridge has no handler of its own).
clean_stop_status() {
    case $1 in
    0 | "$status_sigint" | "$status_sigterm") return 0 ;;
    *) return 1 ;;
    esac
}

stopped=0
stop_failed=0
reported=(0 0 0)   # set for a program whose end was already reported
stop_all() {
    [ "$stopped" -eq 1 ] && return
    stopped=1
    [ "${#pids[@]}" -eq 0 ] && return
    local pid i left status deadline=$((SECONDS + stop_seconds))
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    while ((SECONDS <= deadline)); do
        left=0
        for pid in "${pids[@]}"; do alive "$pid" && left=1; done
        [ "$left" -eq 0 ] && break
        sleep "$poll_interval"
    done
    for i in "${!pids[@]}"; do
        if alive "${pids[$i]}"; then
            echo "run: ${names[$i]} did not stop within ${stop_seconds} s; killing it" >&2
            kill -KILL "${pids[$i]}" 2>/dev/null
        fi
    done
    for i in "${!pids[@]}"; do
        wait "${pids[$i]}" 2>/dev/null
        status=$?
        if [ "${reported[$i]}" -eq 0 ] && ! clean_stop_status "$status"; then
            echo "run: ${names[$i]} ended with status $status; see $(log_of "${names[$i]}")" >&2
            stop_failed=1
        fi
    done
}

on_signal() {
    trap '' INT TERM HUP
    echo
    echo "run: stopping veksnmpagent, snmp_service and snmp_web_bridge"
    stop_all
    echo "run: stopped"
    [ "$stop_failed" -eq 0 ] || exit "$exit_failed"
    exit 0
}

on_exit() {
    local status=$?
    trap '' INT TERM HUP
    stop_all
    exit "$status"
}
trap on_signal INT TERM HUP
trap on_exit EXIT

# Reports a program that ended by itself, with the end of its log.
report_ended() {
    local i=$1 when=$2
    reported[i]=1
    echo "run: ${names[$i]} ended $when; the end of $(log_of "${names[$i]}"):" >&2
    tail -n 5 "$(log_of "${names[$i]}")" | sed 's/^/  /' >&2
}

"$agent_bin" -p "$agent_port" -t "127.0.0.1:$trap_port" </dev/null >"$(log_of veksnmpagent)" 2>&1 &
pids+=($!)
VEK_SERVICE_PORT=$service_port VEK_SERVICE_TRAP_PORT=$trap_port \
    "$service_bin" --log-level "${VEK_RUN_LOG_LEVEL:-$default_log_level}" </dev/null >"$(log_of snmp_service)" 2>&1 &
pids+=($!)
# The bridge writes bridge.log into its working directory: keep it with the other logs.
(cd "$logs" && exec "$bridge_bin" --port "$bridge_port" --service-port "$service_port" --agent-port "$agent_port") \
    </dev/null >"$(log_of snmp_web_bridge)" 2>&1 &
pids+=($!)

# ---- wait until all three answer ----

# True when an HTTP GET of the path on 127.0.0.1:<port> answers a body containing the text. The
# bridge's credentials (VEK_BRIDGE_AUTH), when set, go with the request.
http_answers() {
    python3 - "$1" "$2" "$3" <<'PY'
import base64, os, socket, sys
port, path, wanted = int(sys.argv[1]), sys.argv[2], sys.argv[3].encode()
auth = os.environ.get("VEK_BRIDGE_AUTH", "")
auth_line = f"Authorization: Basic {base64.b64encode(auth.encode()).decode()}\r\n" if auth else ""
request = f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n{auth_line}Connection: close\r\n\r\n".encode()
reply = b""
try:
    with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
        s.sendall(request)
        while chunk := s.recv(4096):
            reply += chunk
except OSError:
    sys.exit(1)
sys.exit(0 if wanted in reply else 1)
PY
}

agent_answers() {
    local out
    out=$("$cli_bin" get -v 2c -c public -t "$probe_timeout_ms" "127.0.0.1:$agent_port" 1.3.6.1.2.1.1.1.0 2>&1)
    [[ $out == *"执行成功"* ]]
}

ready=(0 0 0)
probe() {
    case $1 in
    0) agent_answers ;;
    1) http_answers "$service_port" /api_snmp_get_agent_count '"ret":0' ;;
    2) http_answers "$bridge_port" /status '"running":1' ;;
    esac
}

deadline=$((SECONDS + ready_seconds))
while :; do
    waiting=0
    for i in 0 1 2; do
        if ! alive "${pids[$i]}"; then
            report_ended "$i" "at start-up"
            exit "$exit_failed"
        fi
        if [ "${ready[$i]}" -eq 0 ]; then
            if probe "$i"; then ready[i]=1; else waiting=1; fi
        fi
    done
    [ "$waiting" -eq 0 ] && break
    if ((SECONDS >= deadline)); then
        for i in 0 1 2; do
            [ "${ready[$i]}" -eq 0 ] && echo "run: ${names[$i]} did not answer within $ready_seconds s; see $(log_of "${names[$i]}")" >&2
        done
        exit "$exit_failed"
    fi
    sleep "$poll_interval"
done
# The service keeps serving HTTP when its notification port is taken; without notifications the
# system is not complete.
if grep -q "Trap 端口 .*监听失败" "$(log_of snmp_service)"; then
    fail "UDP port $trap_port (notifications of snmp_service) is already in use; see $(log_of snmp_service)"
fi

cli=$(shown_path "$cli_bin")
if [ -n "${VEK_BRIDGE_AUTH:-}" ]; then
    page_access="on every address, with the user and password of VEK_BRIDGE_AUTH"
else
    page_access="on every address, open to anyone who reaches it; set VEK_BRIDGE_AUTH=user:password to ask for one"
fi
cat <<EOF

The system is running (program output in $(shown_path "$logs")/):
  agent veksnmpagent   udp 127.0.0.1:$agent_port   (communities public / private)
  HTTP service         http://127.0.0.1:$service_port/   (notifications on udp $trap_port)
  web page             http://127.0.0.1:$bridge_port/   ($page_access)

Open the web page and add the agent 127.0.0.1 port $agent_port, or try the command-line manager:
  $cli get -v 2c -c public 127.0.0.1:$agent_port 1.3.6.1.2.1.1.1.0
  $cli bulkwalk -v 2c -c public 127.0.0.1:$agent_port 1.3.6.1.2.1.1
  $cli set -v 2c -c private 127.0.0.1:$agent_port 1.3.6.1.4.1.12345.1.2 i 1

Press Ctrl+C to stop all three.
EOF

# Runs until a signal arrives (on_signal) or one of the programs ends by itself.
while :; do
    wait -n "${pids[@]}"
    for i in 0 1 2; do
        if ! alive "${pids[$i]}"; then
            report_ended "$i" "unexpectedly"
            exit "$exit_failed"
        fi
    done
done
