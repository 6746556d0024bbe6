#!/usr/bin/env bash
# Builds the gateway, its network library and their tests with ThreadSanitizer and runs them, with
# the test whose threads translate texts at once; any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build="build-tsan"
scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKVEX_TSAN=ON
# Only what the gateway's tests need (each builds kvex-rtn-cli): the panel's tests run on Qt's one
# thread, and the address sanitizer's run covers them.
cmake --build "$build" --target test_gateway test_gateway_jobs test_gateway_store \
    test_gateway_http test_http_server test_gateway_sparkplug test_gateway_opcua test_language \
    kvex_platform_core_lrelease

# Each process writes its reports to a file of its own: the gateway runs as the tests' child, and
# a report on its stderr would be lost when the test does not show that log.
reports="$(mktemp -d)"
trap 'rm -rf "$reports"' EXIT
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp:log_path=$reports/tsan"
export QT_QPA_PLATFORM=offscreen
status=0
# The page in a browser only repeats test_gateway_http's gateway; the package's checks read files.
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 -L gateway \
    -E '^(web_page|GatewayUnitTest\.|AlertRulesTest\.)' || status=$?
ctest --test-dir "$build" --output-on-failure --timeout 300 -R '^TranslationCacheTest\.' ||
    status=$?
if compgen -G "$reports/tsan*" >/dev/null; then
    cat "$reports"/tsan*
    echo "test-tsan.sh: ThreadSanitizer reported the races above" >&2
    status=1
fi
exit "$status"
