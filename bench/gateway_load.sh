#!/bin/bash
# The gateway under Modbus and web load: CLIENTS clients on the loopback read the register block
# every 10 ms and PAGES live pages follow its web stream while it polls the simulated sensor at
# the wire rate and publishes over MQTT, beside a bare request/answer loop on the same simulator.
# Not a test: it reports figures.
# Usage: bench/gateway_load.sh BUILD_DIR [SECONDS [CLIENTS [PAGES]]]
#        (defaults: 10 s, 64 clients, 32 pages; PAGES 0 leaves the web page off)
# KVEX_MODBUS_LOAD names another kvex-modbus-load (to load a gateway built without one).
# KVEX_BENCH_SPARKPLUG=GROUP adds the Sparkplug B face (--sparkplug GROUP) beside the JSON topics.
set -euo pipefail
build=${1:?usage: gateway_load.sh BUILD_DIR [SECONDS [CLIENTS]]}
seconds=${2:-10}
clients=${3:-64}
pages=${4:-32}
bin="$build/bin"
load=${KVEX_MODBUS_LOAD:-$bin/kvex-modbus-load}
work=$(mktemp -d /tmp/kvex-gateway-load-XXXXXX)
. "$(dirname "$0")/gateway_common.sh"
modbus_port=$(free_port)
http_port=$(free_port)

start_sensor

echo "# $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
timeout $((seconds + 30)) "$load" bare "$device" "$seconds"

mqtt=()
if command -v mosquitto > /dev/null; then
    mqtt_port=$(free_port)
    printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$mqtt_port" > "$work/mosquitto.conf"
    mosquitto -c "$work/mosquitto.conf" > /dev/null 2>&1 &
    pids+=($!)
    sleep 0.5
    mosquitto_sub -p "$mqtt_port" -t 'bench/#' > /dev/null 2>&1 &
    pids+=($!)
    mqtt=(--mqtt "127.0.0.1:$mqtt_port" --topic-prefix bench)
    if [ -n "${KVEX_BENCH_SPARKPLUG:-}" ]; then
        mosquitto_sub -p "$mqtt_port" -t 'spBv1.0/#' > /dev/null 2>&1 &
        pids+=($!)
        # The bdSeq goes into the bench's folder, not the user's state directory.
        export STATE_DIRECTORY="$work"
        mqtt+=(--sparkplug "$KVEX_BENCH_SPARKPLUG")
    fi
fi
web=()
[ "$pages" -gt 0 ] && web=(--http "127.0.0.1:$http_port")
"$bin/kvex-rtn-cli" --port "$device" serve "${mqtt[@]}" --modbus "127.0.0.1:$modbus_port" \
    "${web[@]}" 2> "$work/gateway.log" &
gateway=$!
pids+=("$gateway")
for _ in $(seq 150); do grep -q "sensor found" "$work/gateway.log" && break; sleep 0.1; done
sleep 1

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$gateway/stat"; }
start_ticks=$(cpu_ticks)
start_time=$(date +%s.%N)
status=0
page_status=0
if [ "$pages" -gt 0 ]; then
    timeout $((seconds + 30)) "$load" pages "$http_port" "$pages" "$seconds" > "$work/pages.out" &
    page_load=$!
fi
timeout $((seconds + 30)) "$load" load "$modbus_port" "$clients" "$seconds" || status=$?
if [ "$pages" -gt 0 ]; then
    wait "$page_load" || page_status=$?
    cat "$work/pages.out"
    [ "$status" -eq 0 ] && status=$page_status
fi
cpu=$(echo "scale=2; 100 * ($(cpu_ticks) - $start_ticks) / $ticks / ($(date +%s.%N) - $start_time)" | bc)
echo "gateway CPU             $cpu % of one core under the load"
echo "# load average $(cut -d' ' -f1-3 /proc/loadavg) at the end; gateway log:"
sed 's/^/#   /' "$work/gateway.log"
exit "$status"
