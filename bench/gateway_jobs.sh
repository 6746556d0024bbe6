#!/bin/bash
# The gateway's polling rate while web clients ask for the sensor's line, beside it alone.
# The clients loop the port check, the EEPROM read and the video line; both rates are given as a
# share of a bare request/answer loop on the same simulator. Not a test: it reports figures.
# Usage: bench/gateway_jobs.sh BUILD_DIR [SECONDS [CLIENTS]]   (defaults: 20 s, 10 clients)
# KVEX_MODBUS_LOAD names another kvex-modbus-load (to load a gateway built without `jobs`).
# KVEX_BENCH_NO_TOKEN=1: the clients send no token (the gateway still has one).
# The whole run takes at most 3 x SECONDS + 60 s.
set -euo pipefail
build=${1:?usage: gateway_jobs.sh BUILD_DIR [SECONDS [CLIENTS]]}
seconds=${2:-20}
clients=${3:-10}
bench=gateway-jobs
. "$(dirname "$0")/gateway_common.sh"
modbus_port=$(free_port)
http_port=$(free_port)
began=$(date +%s)

token=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
(umask 077 && echo "$token" > "$work/token")
client_token=$token
[ -n "${KVEX_BENCH_NO_TOKEN:-}" ] && client_token=-

start_sensor

echo "# $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
timeout $((seconds + 5)) "$load" bare "$device" "$seconds" | tee "$work/bare.out"
bare=$(awk '/^bare loop/ {print $3}' "$work/bare.out")

"$bin/kvex-rtn-cli" --port "$device" serve --http "127.0.0.1:$http_port" \
    --http-token-file "$work/token" --modbus "127.0.0.1:$modbus_port" 2> "$work/gateway.log" &
pids+=($!)
for _ in $(seq 40); do
    curl -sf --max-time 1 "http://127.0.0.1:$http_port/api/sample" > /dev/null && break
    sleep 0.25
done

# The gateway's sample count (its seq) from /api/status, with the time it came: `count` `at`.
# The status is answered off the polling thread, so the load does not hold it up.
read_count() {
    count=$(curl -s --max-time 2 "http://127.0.0.1:$http_port/api/status" |
        grep -o '"samples":[0-9]*' | cut -d: -f2 || true)
    at=$(date +%s.%N)
}
# The samples per second from `count` and `at` to now, and their share of the bare loop.
rate_since() {
    local first=$count since=$at
    read_count
    if [ -z "$first" ] || [ -z "$count" ]; then
        echo "unknown (/api/status did not answer)"
        return
    fi
    awk -v n="$((count - first))" -v t="$(echo "$at - $since" | bc)" -v bare="$bare" \
        'BEGIN { printf "%.2f samples/s, %.1f %% of the bare loop\n", n / t, 100 * n / t / bare }'
}

read_count
sleep "$seconds"
echo "gateway unloaded        $(rate_since)"

status=0
read_count
timeout $((seconds + 25)) "$load" jobs "$http_port" "$seconds" "$clients" "$client_token" \
    > "$work/jobs.out" 2>&1 &
jobs_load=$!
sleep "$seconds"
echo "gateway loaded          $(rate_since)"
wait "$jobs_load" || status=$?
cat "$work/jobs.out"
echo "# load average $(cut -d' ' -f1-3 /proc/loadavg) at the end, $(($(date +%s) - began)) s" \
    "in all; the gateway's log ($(wc -l < "$work/gateway.log") lines) ends:"
tail -n 15 "$work/gateway.log" | sed 's/^/#   /'
exit "$status"
