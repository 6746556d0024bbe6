#!/usr/bin/env bash
# Builds the Debian package from a build tree, unpacks it into a scratch root and starts the
# programs installed there, headless: usage test_install.sh BUILD_DIR
set -euo pipefail

build_dir=$(cd "${1:?usage: test_install.sh BUILD_DIR}" && pwd)
# The simulator children of the demo and the timeout's child end with their parents; only the
# scratch folder is left to remove.
source "$(dirname "$0")/package_scratch.sh"
build_package_in_scratch kvex-install-test
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

echo "== control data"
control=$(dpkg-deb -f "$deb")
echo "$control"
expect_field() {
    local name=$1 pattern=$2 value
    value=$(dpkg-deb -f "$deb" "$name")
    [[ $value =~ $pattern ]] || fail "control field $name is \"$value\", expected /$pattern/"
}
expect_field Package '^kvex-rtn$'
expect_field Section '^electronics$'
expect_field Maintainer '^KVEX tool maintainers <maintainers@kvex\.invalid>$'
# Found by dpkg-shlibdeps from the binaries: the Qt libraries the programs link.
expect_field Depends 'libqt6widgets6'
expect_field Depends 'libqt6serialport6'

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
prefix="$root/usr"

echo "== files"
data=share/kvex-rtn
expected=(
    bin/kvex-rtn
    bin/kvex-rtn-demo
    bin/kvex-sensor-sim
    bin/kvex-rtn-cli
    share/man/man1/kvex-rtn-cli.1.gz
    "$data/K-VEX-RTN-RedozU15.uir"
    "$data/kvex-logo-2.png"
    "$data/kvex-logo-3.png"
    "$data/kvex-logo-4.png"
    "$data/kvex-logo-6.png"
    "$data/kvex-rtn_de.qm"
    share/applications/invalid.kvex.KvexRtn.desktop
    share/icons/hicolor/64x64/apps/kvex-rtn.png
    share/icons/hicolor/128x128/apps/kvex-rtn.png
    share/doc/kvex-rtn/copyright
)
for file in "${expected[@]}"; do
    if [ -s "$prefix/$file" ]; then
        echo "ok   /usr/$file"
    else
        fail "/usr/$file missing or empty"
    fi
done
for program in kvex-rtn kvex-rtn-demo kvex-sensor-sim kvex-rtn-cli; do
    [ -x "$prefix/bin/$program" ] || fail "/usr/bin/$program is not executable"
done
# Only the data folder may hold the panel file: a copy beside the programs would make the
# start-up checks below prove nothing.
[ -e "$prefix/bin/K-VEX-RTN-RedozU15.uir" ] && fail "panel file installed beside the programs"
rules="$prefix/lib/udev/rules.d/60-kvex-rtn.rules"
if grep -Eq '^ACTION=="add", SUBSYSTEM=="usb-serial", DRIVER=="ftdi_sio", ATTR\{latency_timer\}="1"$' \
    "$rules" 2>/dev/null; then
    echo "ok   /usr/lib/udev/rules.d/60-kvex-rtn.rules sets FTDI adapters' latency timer to 1 ms"
else
    fail "/usr/lib/udev/rules.d/60-kvex-rtn.rules missing or without the latency timer rule"
fi
grep -qx 'Exec=kvex-rtn' "$prefix/share/applications/invalid.kvex.KvexRtn.desktop" ||
    fail "desktop entry does not start kvex-rtn"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/invalid.kvex.KvexRtn.desktop" ||
        fail "desktop entry does not validate"
fi

# Started from an empty folder with no data folder in the environment: the installed programs
# can only find their panel file and bitmaps in the unpacked share/kvex-rtn.
run_dir="$scratch/run"
mkdir -p "$run_dir" "$scratch/runtime"
chmod 700 "$scratch/runtime"
run_env=(env -i PATH=/usr/bin:/bin HOME="$scratch" XDG_RUNTIME_DIR="$scratch/runtime"
    QT_QPA_PLATFORM=offscreen LANG=C.UTF-8)
# A sanitizer build keeps its options (suppressions, exit codes).
for name in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
    [ -n "${!name:-}" ] && run_env+=("$name=${!name}")
done

echo "== kvex-sensor-sim --list-profiles"
if ! (cd "$run_dir" && "${run_env[@]}" "$prefix/bin/kvex-sensor-sim" --list-profiles) \
    >"$scratch/sim.log" 2>&1; then
    cat "$scratch/sim.log" >&2
    fail "kvex-sensor-sim --list-profiles"
elif ! grep -q '^standard ' "$scratch/sim.log"; then
    fail "kvex-sensor-sim lists no \"standard\" profile"
fi

echo "== kvex-rtn-cli ports, with no display"
if ! (cd "$run_dir" && env -i PATH=/usr/bin:/bin HOME="$scratch" LANG=C.UTF-8 \
    "$prefix/bin/kvex-rtn-cli" ports) >"$scratch/cli.log" 2>&1; then
    cat "$scratch/cli.log" >&2
    fail "installed kvex-rtn-cli ports"
fi

# The German catalogue, like the panel file, only in the unpacked data folder.
echo "== kvex-rtn-cli in German"
if ! (cd "$run_dir" && env -i PATH=/usr/bin:/bin HOME="$scratch" LANG=de_DE.UTF-8 \
    "$prefix/bin/kvex-rtn-cli" --help) >"$scratch/cli-de.log" 2>&1; then
    cat "$scratch/cli-de.log" >&2
    fail "installed kvex-rtn-cli --help"
elif ! grep -q '^Befehle:' "$scratch/cli-de.log"; then
    cat "$scratch/cli-de.log" >&2
    fail "installed kvex-rtn-cli speaks no German under LANG=de_DE.UTF-8"
else
    echo "ok   German help"
fi

echo "== kvex-rtn-demo --screenshot"
shot="$scratch/demo.png"
status=0
(cd "$run_dir" && timeout 30 "${run_env[@]}" "$prefix/bin/kvex-rtn-demo" --screenshot "$shot") \
    >"$scratch/demo.log" 2>&1 || status=$?
cat "$scratch/demo.log"
if [ "$status" -ne 0 ]; then
    fail "installed kvex-rtn-demo exited with $status"
elif [ ! -s "$shot" ]; then
    fail "installed kvex-rtn-demo wrote no screenshot"
elif [ "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" != "89504e470d0a1a0a" ]; then
    fail "the screenshot is not a PNG file"
else
    echo "ok   screenshot of $(stat -c %s "$shot") bytes"
fi

# No device answers on port 1 (none is bound, and this machine's ports, if any, have no
# sensor): the program must still come up, show its port error and wait for the operator
# until timeout ends it with 124.
echo "== kvex-rtn with no sensor"
status=0
(cd "$run_dir" && timeout 5 "${run_env[@]}" "$prefix/bin/kvex-rtn") \
    >"$scratch/production.log" 2>&1 || status=$?
cat "$scratch/production.log"
if [ "$status" -ne 124 ]; then
    fail "installed kvex-rtn ended by itself with $status instead of running until the timeout"
else
    echo "ok   still running after 5 s"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "install test passed"
