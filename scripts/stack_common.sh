# Shared by the process-level benchmarks that start the programs (sourced, not run): a scratch
# directory `dir` and the child processes in `pids`, both removed on exit (VEK_BENCH_KEEP keeps the
# directory and its logs); free ports; waiting until the web bridge answers. The sourcing script sets
# `me` to its name for messages.

dir=$(mktemp -d)
pids=()
stack_cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    if [ -n "${VEK_BENCH_KEEP:-}" ]; then echo "$me: logs kept in $dir"; else rm -rf "$dir"; fi
}
trap stack_cleanup EXIT

# require_programs <file>...: stops when one of them is missing.
require_programs() {
    local bin
    for bin in "$@"; do
        [ -e "$bin" ] || { echo "$me: $bin not found; build the programs first" >&2; exit 1; }
    done
}

# free_port DGRAM|STREAM: a port of 127.0.0.1 that was free a moment ago.
free_port() {
    python3 -c "import socket; s=socket.socket(socket.AF_INET, socket.SOCK_$1); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])"
}

# wait_for_bridge <port>: until the bridge answers /status (10 s at most), then until its health
# check has seen the service once.
wait_for_bridge() {
    local port=$1 tries=100 i
    status_ok() {
        python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/status', timeout=1).read()" \
            2>/dev/null
    }
    for ((i = 0; i < tries; i++)); do
        status_ok && break
        sleep 0.1
    done
    status_ok || { echo "$me: the bridge did not start" >&2; cat "$dir"/*.log >&2; exit 1; }
    sleep 2.5
}
