#!/usr/bin/env bash
# The Windows programs of a cross build under Wine against the Linux programs and the standard SNMP
# tools, all on 127.0.0.1 (Wine's sockets are the host's): the package's layout, the DLLs' export
# tables against the Linux libraries', veksnmpagent.exe to snmpget/snmpwalk and to the Linux
# veksnmpnms over SNMPv3, veksnmpnms.exe to snmpd and its traplisten to snmptrap/snmpinform,
# snmp_service.exe (loading vek_nms_sdk.dll) to curl and on to the Linux veksnmpagent, and
# snmp_web_bridge.exe to Chromium through the Windows service. Ctrl+C (SIGINT, which Wine hands to
# the console control handler) stops each program with its closing line.
#
# Usage: tests/windows/wine_e2e.sh <Windows build dir> <Linux build dir>
# Runs under a persistent wineserver (scripts/wine_env.sh). Exit code 0 when every check passes.
set -uo pipefail

win_dir="$(cd "$1" && pwd)"
linux_dir="$(cd "$2" && pwd)"
root_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
# shellcheck source=../../scripts/wine_env.sh
source "$root_dir/scripts/wine_env.sh"

bin="$win_dir/bin"
lin_cli="$linux_dir/apps/cli/veksnmpnms"
lin_agent="$linux_dir/apps/veksnmpagent/veksnmpagent"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win_dir/CMakeCache.txt")"
export MIBS=
# Sanitizer builds of the Linux programs: a leak report at exit is not what these checks look at.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"

work="$(mktemp -d)"
pids=()
failures=0
cleanup() {
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"  # the programs write their logs (bridge.log) into the working directory

pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# check <description> <command...>: passes when the command succeeds.
check() {
    local what="$1"; shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
# Free UDP and TCP ports in one run (the kernel hands them out; kept only until the programs bind).
free_ports() {
    python3 - "$1" <<'EOF'
import socket, sys
held = []
for _ in range(int(sys.argv[1])):
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(('127.0.0.1', 0))
    port = u.getsockname()[1]
    t = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        t.bind(('127.0.0.1', port))
    except OSError:
        continue
    held += [u, t]
    print(port)
EOF
}
# start <name> <command...>: runs the command in the background with its output in $work/<name>.out.
start() {
    local name="$1"; shift
    "$@" </dev/null >"$work/$name.out" 2>&1 &
    pids+=($!)
    eval "pid_$name=$!"
}
# stop_with_ctrl_c <name> <closing text>: SIGINT, then the program must end within 10 s and have
# printed its closing text.
stop_with_ctrl_c() {
    local name="$1" closing="$2" pid_var="pid_$1" i
    kill -INT "${!pid_var}" 2>/dev/null
    for i in $(seq 100); do
        kill -0 "${!pid_var}" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "${!pid_var}" 2>/dev/null; then
        fail "$name: Ctrl+C did not stop it"
    else
        check "$name: Ctrl+C stops it with \"$closing\"" grep -qF "$closing" "$work/$name.out"
    fi
}
# wait_udp <port>: until an SNMP agent on the port answers a v2c GET of sysDescr.0 (30 s at most).
wait_udp() {
    local i
    for i in $(seq 60); do
        snmpget -v2c -c public -t 0.5 -r 0 "127.0.0.1:$1" 1.3.6.1.2.1.1.1.0 >/dev/null 2>&1 && return 0
    done
    return 1
}
# wait_text <file> <text>: until the file holds the text (30 s at most).
wait_text() {
    local i
    for i in $(seq 300); do
        grep -qF "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
contains() { grep -qF -- "$2" <<<"$1"; }

# --- the package and the export tables ---------------------------------------------------------
zip="$win_dir/veksnmp-$version-win64.zip"
expected_zip="bin/libvek_agent_sdk_v3_vekcrypto.dll bin/snmp_service.exe bin/snmp_web_bridge.exe bin/vek_nms_sdk.dll
bin/veksnmpagent.exe bin/veksnmpnms.exe include/vek_agent_sdk.h include/vek_nms_sdk.h
lib/libvek_agent_sdk_v3_vekcrypto.dll.a lib/libvek_nms_sdk.dll.a"
zip_listing="$(python3 -c 'import sys, zipfile; print(" ".join(sorted(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/"))))' "$zip" 2>&1)"
check "package $(basename "$zip") holds bin/, include/ and lib/ as listed" \
    test "$zip_listing" = "$(tr '\n' ' ' <<<"$expected_zip" | sed 's/ $//')"
[ "$zip_listing" = "$(tr '\n' ' ' <<<"$expected_zip" | sed 's/ $//')" ] || echo "  package holds: $zip_listing"

linux_exports() { nm -D --defined-only --format=posix "$1" | awk '$2 != "A" {print $1}' | sort; }
windows_exports() {
    x86_64-w64-mingw32-objdump -p "$1" |
        sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ {print $NF}' | sort
}
for pair in "nms/libvek_nms_sdk.so vek_nms_sdk.dll" \
            "agent/libvek_agent_sdk_v3_vekcrypto.so libvek_agent_sdk_v3_vekcrypto.dll"; do
    read -r so dll <<<"$pair"
    linux="$(linux_exports "$linux_dir/$so")"
    windows="$(windows_exports "$bin/$dll")"
    if [ -n "$linux" ] && [ "$linux" = "$windows" ]; then
        pass "$dll exports the $(wc -l <<<"$linux") names of $(basename "$so")"
    else
        fail "$dll exports differ from $(basename "$so")"
        diff <(echo "$linux") <(echo "$windows") | head -20
    fi
done

mapfile -t ports < <(free_ports 12)
[ "${#ports[@]}" -ge 9 ] || { echo "FAIL: no free ports"; exit 1; }
agent_port=${ports[0]} snmpd_port=${ports[1]} trap_port=${ports[2]} lin_agent_port=${ports[3]}
http_port=${ports[4]} service_trap_port=${ports[5]} bridge_port=${ports[6]} silent_trap_port=${ports[7]}

# --- veksnmpagent.exe against the standard tools and the Linux veksnmpnms -----------------------
start agent "$WINE_LOADER" "$bin/veksnmpagent.exe" -p "$agent_port" -b "Z:$work/boots" -t "127.0.0.1:$silent_trap_port" \
    -u admin -a SHA256 -A authpass123 -x AES -X privpass123 \
    -u md5user -a MD5 -A authpass123 -x DES -X privpass123 \
    -u full -a SHA256FULL -A authpass123 -x AES256 -X privpass123 \
    -s std -u ops -a SHA-512 -A authpass123 -x AES-256-C -X privpass123
if wait_udp "$agent_port"; then
    for v in 1 2c; do
        out="$(snmpget -v$v -c public -t 2 -r 1 "127.0.0.1:$agent_port" 1.3.6.1.2.1.1.1.0 2>&1)"
        check "veksnmpagent.exe answers snmpget -v$v" contains "$out" "Embedded SNMP Agent"
        out="$(snmpwalk -v$v -c public -t 2 -r 1 "127.0.0.1:$agent_port" 1.3.6.1.2.1.1 2>&1)"
        check "veksnmpagent.exe answers snmpwalk -v$v of the system group" \
            test "$(grep -c '^iso.3.6.1.2.1.1\.' <<<"$out")" -ge 7
    done
    for user in "admin -a SHA256 -x AES" "md5user -a MD5 -x DES" "full -a SHA256FULL -x AES256"; do
        read -r name _ auth _ priv <<<"$user"
        out="$("$lin_cli" get -v 3 -u "$name" -a "$auth" -A authpass123 -x "$priv" -X privpass123 \
                -t 3000 "127.0.0.1:$agent_port" 1.3.6.1.2.1.1.1.0 2>&1)"
        check "veksnmpagent.exe answers the Linux veksnmpnms over SNMPv3 with $auth/$priv" \
            contains "$out" "Embedded SNMP Agent"
    done
    out="$(snmpget -v3 -l authPriv -u ops -a SHA-512 -A authpass123 -x AES-256-C -X privpass123 -t 2 -r 1 \
            "127.0.0.1:$agent_port" 1.3.6.1.2.1.1.1.0 2>&1)"
    check "veksnmpagent.exe answers standard SNMPv3 snmpget with SHA-512/AES-256-C" contains "$out" "Embedded SNMP Agent"
    # A datagram of more than 1024 bytes is passed over and the agent still answers.
    python3 -c 'import socket,sys; s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM); s.sendto(b"\x30"*4000,("127.0.0.1",int(sys.argv[1])))' "$agent_port"
    out="$(snmpget -v2c -c public -t 2 -r 1 "127.0.0.1:$agent_port" 1.3.6.1.2.1.1.1.0 2>&1)"
    check "veksnmpagent.exe answers after an oversized datagram" contains "$out" "Embedded SNMP Agent"
else
    fail "veksnmpagent.exe did not answer on port $agent_port"
fi
stop_with_ctrl_c agent "veksnmpagent stopped"

# --- veksnmpnms.exe against snmpd, snmptrap and snmpinform --------------------------------------
printf 'rocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\nsysDescr Test agent\n' >"$work/snmpd.conf"
start snmpd snmpd -f -Lf "$work/snmpd.log" -C -c "$work/snmpd.conf" -p "$work/snmpd.pid" "udp:127.0.0.1:$snmpd_port"
if wait_udp "$snmpd_port"; then
    out="$("$WINE_LOADER" "$bin/veksnmpnms.exe" get -v 2c -c public "127.0.0.1:$snmpd_port" 1.3.6.1.2.1.1.1.0 2>&1)"
    check "veksnmpnms.exe reads sysDescr.0 of snmpd" contains "$out" "Test agent"
    out="$("$WINE_LOADER" "$bin/veksnmpnms.exe" bulkwalk -v 2c -c public "127.0.0.1:$snmpd_port" 1.3.6.1.2.1.1 2>&1)"
    check "veksnmpnms.exe bulkwalks the system group of snmpd" contains "$out" "1.3.6.1.2.1.1.3.0"
    out="$("$WINE_LOADER" "$bin/veksnmpnms.exe" set -v 2c -c private "127.0.0.1:$snmpd_port" 1.3.6.1.2.1.1.5.0 s winehost 2>&1)"
    check "veksnmpnms.exe sets sysName.0 of snmpd" \
        test "$(snmpget -v2c -c public -Oqv "127.0.0.1:$snmpd_port" 1.3.6.1.2.1.1.5.0 2>&1)" = '"winehost"'
else
    fail "snmpd did not start on port $snmpd_port"
fi

start traplisten "$WINE_LOADER" "$bin/veksnmpnms.exe" traplisten -p "$trap_port"
sleep 2
snmptrap -v2c -c public "127.0.0.1:$trap_port" '' 1.3.6.1.4.1.9999.1 1.3.6.1.4.1.9999.1.1 s wine-trap-text
check "veksnmpnms.exe traplisten prints a trap of snmptrap" wait_text "$work/traplisten.out" "wine-trap-text"
check "veksnmpnms.exe traplisten acknowledges an inform of snmpinform" \
    snmpinform -v2c -c public -t 3 -r 2 "127.0.0.1:$trap_port" '' 1.3.6.1.4.1.9999.2 1.3.6.1.4.1.9999.2.1 s wine-inform-text
check "veksnmpnms.exe traplisten prints the inform" wait_text "$work/traplisten.out" "wine-inform-text"
kill -INT "$pid_traplisten" 2>/dev/null
for _ in $(seq 100); do kill -0 "$pid_traplisten" 2>/dev/null || break; sleep 0.1; done
check "veksnmpnms.exe traplisten ends on Ctrl+C" bash -c "! kill -0 $pid_traplisten 2>/dev/null"

# --- snmp_service.exe and snmp_web_bridge.exe in front of the Linux veksnmpagent ----------------
start lin_agent "$lin_agent" -p "$lin_agent_port" -b "$work/lin_boots" -t "127.0.0.1:$service_trap_port"
wait_udp "$lin_agent_port" || fail "the Linux veksnmpagent did not start on port $lin_agent_port"
start service env VEK_SERVICE_PORT="$http_port" VEK_SERVICE_TRAP_PORT="$service_trap_port" \
    "$WINE_LOADER" "$bin/snmp_service.exe"
api() { curl -s --max-time 10 "http://127.0.0.1:$http_port$1"; }
for _ in $(seq 100); do api /api_snmp_get_agent_count >/dev/null && break; sleep 0.2; done
out="$(api "/api_snmp_agent_create?ip=127.0.0.1&port=$lin_agent_port&community=public&version=2c")"
check "snmp_service.exe (vek_nms_sdk.dll loaded) creates the agent" contains "$out" '"ret":0'
out="$(api "/api_snmp_get?ip=127.0.0.1&port=$lin_agent_port&oid=1.3.6.1.2.1.1.1.0")"
check "snmp_service.exe relays a GET to the Linux veksnmpagent" contains "$out" "Embedded SNMP Agent"
# The page adds the agent again, with its read-write community.
out="$(api "/api_snmp_agent_remove?ip=127.0.0.1&port=$lin_agent_port")"
check "snmp_service.exe removes the agent" contains "$out" '"ret":0'

start bridge "$WINE_LOADER" "$bin/snmp_web_bridge.exe" --port "$bridge_port" --service-port "$http_port" \
    --agent-port "$lin_agent_port"
for _ in $(seq 100); do curl -s --max-time 2 -o /dev/null "http://127.0.0.1:$bridge_port/" && break; sleep 0.2; done
(cd "$root_dir/tests/browser" &&
    STACK_AGENT_PORT="$lin_agent_port" node stack_page_test.js "http://127.0.0.1:$bridge_port" >"$work/browser.out" 2>&1)
status=$?
case $status in
    0) pass "Chromium completes the page's operations through snmp_web_bridge.exe and snmp_service.exe" ;;
    77) echo "SKIP: Chromium or playwright-core is missing: the page was not driven through the Windows bridge" ;;
    *) fail "Chromium through snmp_web_bridge.exe and snmp_service.exe"; tail -20 "$work/browser.out" ;;
esac
for name in bridge service; do
    kill -INT "$(eval echo "\$pid_$name")" 2>/dev/null
done
for name in bridge service; do
    pid_var="pid_$name"
    for _ in $(seq 100); do kill -0 "${!pid_var}" 2>/dev/null || break; sleep 0.1; done
    check "$name.exe ends on Ctrl+C" bash -c "! kill -0 ${!pid_var} 2>/dev/null"
done

if [ "$failures" -ne 0 ]; then
    for f in "$work"/*.out; do echo "--- $(basename "$f")"; tail -15 "$f"; done
    echo "wine_e2e: $failures check(s) failed"
    exit 1
fi
echo "wine_e2e: every check passed"
