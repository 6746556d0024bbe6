#!/bin/bash
# The gateway under Modbus and web load: CLIENTS clients on the loopback read the register block
# every 10 ms and PAGES live pages follow its web stream while it polls the simulated sensor at
# the wire rate and publishes over MQTT, beside a bare request/answer loop on the same simulator.
# Not a test: it reports figures.
# Usage: bench/gateway_load.sh BUILD_DIR [SECONDS [CLIENTS [PAGES [IDLE]]]]
#        (defaults: 10 s, 64 clients, 32 pages; PAGES 0 leaves the web page off)
# With IDLE (e.g. 10000 with PAGES 1000) the web load holds IDLE idle connections and PAGES
# pages from other loopback addresses while it times /api/sample, /metrics and a new page's first
# sample, and reports the memory per held connection and the web server's thread's CPU.
# KVEX_MODBUS_LOAD names another kvex-modbus-load (to load a gateway built without one).
# KVEX_BENCH_SPARKPLUG=GROUP adds the Sparkplug B face (--sparkplug GROUP) beside the JSON topics.
set -euo pipefail
build=${1:?usage: gateway_load.sh BUILD_DIR [SECONDS [CLIENTS]]}
seconds=${2:-10}
clients=${3:-64}
pages=${4:-32}
idle=${5:-0}
# The load holds a descriptor per connection.
[ "$idle" -gt 0 ] && ulimit -n "$(ulimit -Hn)"
bench=gateway-load
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
# Idle connections are held, not closed after the usual 5 s, and
# the cap (10 000 by default) leaves room for all of them and the probes.
[ "$idle" -gt 0 ] && web+=(--http-keep-alive 3600 --http-max-connections $((idle + pages + 100)))
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
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$gateway/status"; }
# The web thread's user and system ticks: on the loopback a send also runs the receiving
# socket's side in the kernel, which the split shows.
web_ticks() {
    for t in /proc/$gateway/task/*; do
        if [ "$(cat "$t/comm")" = kvex-web ]; then awk '{print $14, $15}' "$t/stat"; fi
    done
}
share() { echo "scale=2; 100 * ($1) / $ticks / ($(date +%s.%N) - $web_time)" | bc; }
if [ "$pages" -gt 0 ] && [ "$idle" -gt 0 ]; then
    rss_before=$(rss_kib)
    timeout $((seconds + 120)) "$load" hold "$http_port" "$idle" "$pages" "$seconds" \
        > "$work/pages.out" &
    page_load=$!
    # Measured in the second half, once everything is connected.
    sleep $((seconds / 2))
    read -r web_user web_system <<< "$(web_ticks)"
    web_time=$(date +%s.%N)
    sleep $((seconds / 4))
    read -r user system <<< "$(web_ticks)"
    web_cpu=$(share "$user + $system - $web_user - $web_system")
    web_split="user $(share "$user - $web_user") %, system $(share "$system - $web_system") %"
    rss_held=$(rss_kib)
    echo "memory per connection   $(echo "scale=2; ($rss_held - $rss_before) / ($idle + $pages)" | bc) KiB ($rss_before KiB before, $rss_held KiB held)"
    echo "web thread CPU          $web_cpu % of one core with $pages pages ($web_split)"
elif [ "$pages" -gt 0 ]; then
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
