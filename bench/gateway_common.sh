# Sourced by the gateway benchmarks: a work folder and the processes started, both gone on exit,
# a free loopback port, and a simulated sensor. Set `build` and `bench` (the work folder's name)
# first; it sets `bin`, `load` (KVEX_MODBUS_LOAD names another kvex-modbus-load) and `work`.
bin="$build/bin"
load=${KVEX_MODBUS_LOAD:-$bin/kvex-modbus-load}
work=$(mktemp -d "/tmp/kvex-$bench-XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# Starts kvex-sensor-sim on a pseudo-terminal and sets `device` to it.
start_sensor() {
    # The file is there before the simulator, so the first look at it finds it.
    : > "$work/sim.out"
    "$bin/kvex-sensor-sim" > "$work/sim.out" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do grep -q /dev/ "$work/sim.out" && break; sleep 0.1; done
    device=$(grep -o '/dev/[^ ]*' "$work/sim.out" | head -1)
}
