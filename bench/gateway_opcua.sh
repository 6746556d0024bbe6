#!/bin/bash
# The gateway's OPC UA face under load: CLIENTS node-opcua clients, each subscribed to every
# measurement at sampling interval 0, for SECONDS while the gateway polls the simulated sensor at
# the wire rate, beside a bare request/answer loop on the same simulator. Reports the polling
# rate against the bare loop's, the OPC UA server thread's CPU share, the memory each session
# holds and what the clients got. Not a test: it reports figures.
# Usage: bench/gateway_opcua.sh BUILD_DIR [SECONDS [CLIENTS]]   (defaults: 20 s, 50 clients)
# node-opcua comes from the build tree (ctest's opcua_client set-up installs it there).
set -euo pipefail
build=${1:?usage: gateway_opcua.sh BUILD_DIR [SECONDS [CLIENTS]]}
seconds=${2:-20}
clients=${3:-50}
bench=gateway-opcua
. "$(dirname "$0")/gateway_common.sh"
node_modules="$build/tests/opcua-client/node_modules"
[ -d "$node_modules/node-opcua-client" ] || {
    echo "gateway_opcua.sh: no node-opcua in $node_modules (run ctest -R opcua_client first)" >&2
    exit 2
}
opcua_port=$(free_port)
start_sensor

echo "# $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
timeout $((seconds + 30)) "$load" bare "$device" "$seconds"

export STATE_DIRECTORY="$work"
# No reserve line or drift check: their line time is the jobs' budget, not the face's cost.
"$bin/kvex-rtn-cli" --port "$device" serve --opcua "127.0.0.1:$opcua_port" \
    --reserve-every 0 --drift-every 0 2> "$work/gateway.log" &
gateway=$!
pids+=("$gateway")
for _ in $(seq 150); do grep -q "sensor found" "$work/gateway.log" && break; sleep 0.1; done
sleep 1

ticks=$(getconf CLK_TCK)
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$gateway/status"; }
opcua_ticks() {
    for t in /proc/$gateway/task/*; do
        if [ "$(cat "$t/comm")" = kvex-opcua ]; then awk '{print $14 + $15}' "$t/stat"; fi
    done
}
process_ticks() { awk '{print $14 + $15}' "/proc/$gateway/stat"; }
rss_before=$(rss_kib)
# The plant's clients run on machines of their own; here they share two cores with the gateway
# and the simulated line, so they run at the lowest priority (KVEX_CLIENT_NICE=0: beside them).
NODE_PATH="$node_modules" timeout $((seconds + 120)) nice -n "${KVEX_CLIENT_NICE:-19}" \
    node "$(dirname "$0")/opcua_load.js" \
    "opc.tcp://127.0.0.1:$opcua_port" "$clients" "$seconds" > "$work/load.out" &
load_pid=$!
# The clients connect one after the other; the measurement starts once all are subscribed.
for _ in $(seq 600); do
    [ "$(ss -tn state established "( sport = :$opcua_port )" | tail -n +2 | wc -l)" -ge "$clients" ] && break
    sleep 0.1
done
sleep 1
rss_with=$(rss_kib)
start_opcua=$(opcua_ticks)
start_process=$(process_ticks)
start_time=$(date +%s.%N)
start_log=$(wc -c < "$work/gateway.log")
sleep "$seconds"
elapsed=$(echo "$(date +%s.%N) - $start_time" | bc)
end_opcua=$(opcua_ticks)
end_process=$(process_ticks)
wait "$load_pid" || true
kill -TERM "$gateway"
wait "$gateway" 2>/dev/null || true
# The polling rate under load is the seq the clients saw go by (one a answer), over their window.
echo "OPC UA load over ${elapsed} s (answers_per_second: the polling rate the clients saw):"
cat "$work/load.out"
echo "opcua thread CPU: $(echo "scale=2; 100 * ($end_opcua - $start_opcua) / $ticks / $elapsed" | bc) %"
echo "process CPU: $(echo "scale=2; 100 * ($end_process - $start_process) / $ticks / $elapsed" | bc) %"
echo "memory: $rss_before KiB before the clients, $rss_with KiB with them," \
    "$(( (rss_with - rss_before) / clients )) KiB a session"
