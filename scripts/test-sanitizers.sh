#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs the suite;
# any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKVEX_SANITIZE=ON
cmake --build build-asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The package test only repeats the normal build's; the sanitizers watch the program's code.
QT_QPA_PLATFORM=offscreen ctest --test-dir build-asan --output-on-failure -j2 --timeout 300 \
  -E InstallTest
