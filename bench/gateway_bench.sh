#!/bin/bash
# The gateway's CPU share and resident memory over a long run at the wire rate, with MQTT and
# Modbus TCP on and a broker outage in the middle. Not a test: it reports figures.
# Usage: bench/gateway_bench.sh BUILD_DIR [SECONDS [OUTAGE_SECONDS [SAMPLE_SECONDS]]]
# (defaults: 1200 s with a 600 s outage in the middle, a reading every 30 s).
set -euo pipefail
build=${1:?usage: gateway_bench.sh BUILD_DIR [SECONDS [OUTAGE_SECONDS [SAMPLE_SECONDS]]]}
duration=${2:-1200}
outage=${3:-600}
every=${4:-30}
bench=gateway-bench
. "$(dirname "$0")/gateway_common.sh"
mqtt_port=$(free_port)
modbus_port=$(free_port)
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$mqtt_port" > "$work/mosquitto.conf"
start_broker() {
    mosquitto -c "$work/mosquitto.conf" > /dev/null 2>&1 &
    broker=$!
    pids+=("$broker")
}

start_sensor
start_broker
sleep 0.5
mosquitto_sub -p "$mqtt_port" -t 'bench/#' > /dev/null 2>&1 &
pids+=($!)
"$bin/kvex-rtn-cli" --port "$device" serve --mqtt "127.0.0.1:$mqtt_port" \
    --topic-prefix bench --modbus "127.0.0.1:$modbus_port" 2> "$work/gateway.log" &
gateway=$!
pids+=("$gateway")
# A PLC that reads the block once a second.
(while sleep 1; do mbpoll -m tcp -p "$modbus_port" -0 -1 -o 1 -q -a 255 -t 3 -r 0 -c 32 \
    127.0.0.1 > /dev/null 2>&1 || true; done) &
pids+=($!)

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$gateway/stat"; }
rss_kb() { awk '/VmRSS/ {print $2}' "/proc/$gateway/status"; }
outage_start=$(( (duration - outage) / 2 ))
outage_end=$(( outage_start + outage ))
sleep 2
start_ticks=$(cpu_ticks)
start_time=$(date +%s.%N)
echo "seconds,cpu_percent,rss_kb,phase"
elapsed=0
last_ticks=$start_ticks
last_time=$start_time
while (( elapsed < duration )); do
    sleep "$every"
    elapsed=$(( elapsed + every ))
    phase=broker-up
    if (( elapsed > outage_start && elapsed <= outage_end )); then phase=broker-down; fi
    if (( elapsed > outage_start && elapsed - every <= outage_start )); then
        kill "$broker"; wait "$broker" 2>/dev/null || true
    fi
    if (( elapsed > outage_end && elapsed - every <= outage_end )); then start_broker; fi
    now_ticks=$(cpu_ticks)
    now_time=$(date +%s.%N)
    cpu=$(echo "scale=2; 100 * ($now_ticks - $last_ticks) / $ticks / ($now_time - $last_time)" | bc)
    echo "$elapsed,$cpu,$(rss_kb),$phase"
    last_ticks=$now_ticks
    last_time=$now_time
done
total=$(echo "scale=2; 100 * ($(cpu_ticks) - $start_ticks) / $ticks / ($(date +%s.%N) - $start_time)" | bc)
echo "# gateway CPU over the run: $total % of one core"
echo "# gateway log:"
sed 's/^/#   /' "$work/gateway.log"
