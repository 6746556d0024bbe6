#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60) on a copy of its
# seed corpus; exits non-zero when a target finds a crash, a sanitizer report or a hang.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build="build-fuzz"

scripts/install-deps.sh
if ! command -v clang++ >/dev/null ||
    [ ! -e "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a" ]; then
    echo "fuzz.sh: needs clang++ and its libFuzzer runtime (Debian: clang libclang-rt-14-dev)" >&2
    exit 2
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DKVEX_FUZZ=ON -DKVEX_BUILD_TESTS=OFF
cmake --build "$build" --target fuzz_parameter_file fuzz_receive fuzz_web_body fuzz_recording \
    fuzz_opcua

# The runs add what they find to copies, so the seed corpora in the repository stay as they are.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
artifacts="$PWD/$build/artifacts"
mkdir -p "$artifacts"

status=0
summary=()
for pair in parameter_file:parafile receive:receive web_body:webbody recording:recording \
    opcua:opcua; do
    target="fuzz_${pair%%:*}"
    corpus="${pair##*:}"
    cp -r "fuzz/corpus/$corpus" "$work/$corpus"
    echo "== $target: ${seconds}s on a copy of fuzz/corpus/$corpus"
    rc=0
    "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" "$work/$corpus" 2>"$work/$target.log" || rc=$?
    if [ "$rc" -ne 0 ]; then cat "$work/$target.log"; else tail -n 8 "$work/$target.log"; fi
    executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log" | tail -n 1)"
    summary+=("$target: ${executions:-?} executions in ${seconds}s, exit $rc")
    if [ "$rc" -ne 0 ]; then
        status="$rc"
        echo "fuzz.sh: $target failed (exit $rc); the input that did it is in $artifacts" >&2
    fi
done
printf '%s\n' "${summary[@]}"
exit "$status"
