#!/bin/bash
# What the gateway's store on disk costs, beside the gateway without one on the same simulator in
# the same run: polling rate against the bare loop, CPU, bytes written, commits and syncs, commit
# times, the file at 100 000 samples, the start with a full store and the time to send its
# backlog. Not a test: it reports figures.
# Usage: bench/gateway_store_bench.sh BUILD_DIR [SECONDS]   (default 30 s per gateway run)
set -euo pipefail
build=${1:?usage: gateway_store_bench.sh BUILD_DIR [SECONDS]}
seconds=${2:-30}
full=100000
bench=store-bench
. "$(dirname "$0")/gateway_common.sh"
mqtt_port=$(free_port)
printf 'listener %s 127.0.0.1\nallow_anonymous true\nmax_queued_messages 1000000\n' \
    "$mqtt_port" > "$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" > /dev/null 2>&1 &
pids+=($!)
start_sensor
sleep 0.5
echo "# $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
timeout $((seconds + 30)) "$bin/kvex-modbus-load" bare "$device" "$seconds" | tee "$work/bare.txt"
bare=$(grep -o '[0-9.]* cycles/s\|[0-9.]*/s' "$work/bare.txt" | head -1 | grep -o '^[0-9.]*' || true)

ticks=$(getconf CLK_TCK)
# Starts the gateway with stderr stamped by arrival (seconds since the epoch) in $work/$1.log.
start_gateway() {
    local name=$1
    shift
    "$bin/kvex-rtn-cli" --lang en --port "$device" serve --mqtt "127.0.0.1:$mqtt_port" \
        --topic-prefix "bench/$name" "$@" 2> >(while IFS= read -r line; do
            echo "$(date +%s.%N) $line"; done > "$work/$name.log") &
    gateway=$!
    pids+=("$gateway")
}
# Seconds since the epoch when a line with $2 first appears in $work/$1.log (waits up to $3 s).
stamp_of() {
    for _ in $(seq $(( $3 * 10 ))); do
        grep -m1 "$2" "$work/$1.log" 2>/dev/null | cut -d' ' -f1 && return
        sleep 0.1
    done
    echo none
}
io_field() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/io"; }
stop_gateway() { kill -TERM "$gateway"; wait "$gateway" 2>/dev/null || true; }

# One gateway at the wire rate for $seconds with the broker up: its polling rate from the meas
# messages a subscriber counts, its CPU, what it writes and how often it syncs.
live_run() {
    local name=$1
    shift
    mosquitto_sub -p "$mqtt_port" -t "bench/$name/meas" > "$work/$name.meas" 2>/dev/null &
    local sub=$!
    pids+=("$sub")
    start_gateway "$name" "$@"
    stamp_of "$name" "sensor found" 20 > /dev/null
    sleep 2
    local t0 c0 m0 w0 r0
    t0=$(date +%s.%N)
    c0=$(awk '{print $14 + $15}' "/proc/$gateway/stat")
    m0=$(wc -l < "$work/$name.meas")
    w0=$(io_field "$gateway" write_bytes)
    r0=$(io_field "$gateway" wchar)
    # The syncs, counted by strace over the run (attached, so it does not slow the CPU figure
    # much: it stops the process only at these calls).
    if command -v strace > /dev/null; then
        timeout "$seconds" strace -f -qq -e trace=fsync,fdatasync -p "$gateway" \
            -o "$work/$name.strace" 2>/dev/null || true
    else
        sleep "$seconds"
    fi
    local t1 c1 m1 w1 r1
    t1=$(date +%s.%N)
    c1=$(awk '{print $14 + $15}' "/proc/$gateway/stat")
    m1=$(wc -l < "$work/$name.meas")
    w1=$(io_field "$gateway" write_bytes)
    r1=$(io_field "$gateway" wchar)
    stop_gateway
    local syncs
    syncs=$(grep -c 'sync(' "$work/$name.strace" 2>/dev/null || echo 0)
    awk -v n="$name" -v t="$(echo "$t1 - $t0" | bc)" -v m=$((m1 - m0)) -v c=$((c1 - c0)) \
        -v hz="$ticks" -v w=$((w1 - w0)) -v r=$((r1 - r0)) -v s="$syncs" -v bare="${bare:-0}" \
        'BEGIN {
            rate = m / t
            printf "%-9s polling %6.2f/s (%s of the bare loop)  CPU %5.2f %%  write_bytes %6.0f B/sample (%5.2f GB/day)  wchar %6.0f B/sample  syncs %.2f/s\n",
                n, rate, (bare > 0 ? sprintf("%.1f %%", 100 * rate / bare) : "n/a"),
                100 * c / hz / t, m ? w / m : 0, w / t * 86400 / 1e9, m ? r / m : 0, s / t
        }'
    grep -h "closed:" "$work/$name.log" | sed "s/^[0-9.]* /# $name: /" || true
}

echo "== at the wire rate, broker up, ${seconds} s each"
live_run nostore
live_run store --store "$work/live/store.db"
# With the OPC UA face the store keeps its history too (and the face's thread runs, no client).
live_run store_opcua --store "$work/live/store-opcua.db" --opcua "127.0.0.1:$(free_port)"

echo "== the store on its own, flat out (kvex-store-bench, $full samples)"
"$bin/kvex-store-bench" "$work/full/store.db" "$full" | grep -v '^#'
echo "== the same with the OPC UA face's history beside the samples"
"$bin/kvex-store-bench" "$work/full/history.db" "$full" history | grep -v '^#'
cp "$work/full/store.db" "$work/full/copy.db"

echo "== start with an empty store and with $full samples waiting (broker away)"
for name in empty full; do
    db="$work/$name-start/store.db"
    mkdir -p "$(dirname "$db")"
    [ "$name" = full ] && cp "$work/full/copy.db" "$db"
    t0=$(date +%s.%N)
    "$bin/kvex-rtn-cli" --lang en --port "$device" serve --mqtt "127.0.0.1:1" --store "$db" \
        --topic-prefix "bench/start" 2> >(while IFS= read -r line; do
            echo "$(date +%s.%N) $line"; done > "$work/start-$name.log") &
    gateway=$!
    pids+=("$gateway")
    opened=$(stamp_of "start-$name" "next seq" 60)
    found=$(stamp_of "start-$name" "sensor found" 60)
    stop_gateway
    printf '%-5s store: opened (integrity check, rows loaded) after %.2f s, first poll after %.2f s\n' \
        "$name" "$(echo "$opened - $t0" | bc)" "$(echo "$found - $t0" | bc)"
done

echo "== the backlog of $full samples once the broker is there, QoS 1"
for rate in 100000 500; do
    [ "$rate" = 500 ] && [ "${KVEX_BENCH_SLOW:-0}" != 1 ] && {
        echo "(--replay-rate 500, the default: $((full / 500)) s by design; KVEX_BENCH_SLOW=1 measures it)"
        continue
    }
    cp "$work/full/copy.db" "$work/full/backlog.db"
    mosquitto_sub -p "$mqtt_port" -q 1 -t "bench/backlog/meas" > /dev/null 2>&1 &
    pids+=($!)
    sleep 0.3
    start_gateway backlog --store "$work/full/backlog.db" --meas-qos 1 --replay-rate "$rate"
    connected=$(stamp_of backlog "broker connected" 60)
    sent=$(stamp_of backlog "backlog sent" 900)
    stop_gateway
    printf 'backlog   --replay-rate %s: %s samples sent in %.1f s\n' "$rate" \
        "$(grep -m1 -o 'backlog of [0-9]*' "$work/backlog.log" | grep -o '[0-9]*$')" \
        "$(echo "$sent - $connected" | bc)"
    rm -f "$work/backlog.log"
done
echo "# load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
