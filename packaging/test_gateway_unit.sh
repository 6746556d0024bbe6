#!/usr/bin/env bash
# Checks the gateway's systemd unit: systemd-analyze verify finds nothing to say, and its exposure
# in systemd-analyze security --offline=true is 2.0 or lower: usage test_gateway_unit.sh SOURCE_DIR
# BUILD_DIR
set -euo pipefail

src=$(cd "${1:?usage: test_gateway_unit.sh SOURCE_DIR BUILD_DIR}" && pwd)
build=$(cd "${2:?usage: test_gateway_unit.sh SOURCE_DIR BUILD_DIR}" && pwd)
limit=2.0
if ! command -v systemd-analyze >/dev/null; then
    echo "SKIP: no systemd-analyze on this machine (Debian: systemd)"
    exit 77
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kvex-unit-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# verify checks that the program ExecStart names exists and that the man page Documentation=
# names opens: the built program and the source's man page stand in for the installed ones.
unit="$scratch/kvex-rtn-gateway@.service"
sed "s#/usr/bin/kvex-rtn-cli#$build/bin/kvex-rtn-cli#" "$src/packaging/kvex-rtn-gateway@.service" \
    >"$unit"
mkdir -p "$scratch/man/man1"
cp "$src/cli/kvex-rtn-cli.1" "$scratch/man/man1/"
man_check=yes
command -v man >/dev/null || man_check=no

failures=0
echo "== systemd-analyze verify"
status=0
MANPATH="$scratch/man" systemd-analyze verify --man="$man_check" "$unit" >"$scratch/verify.log" 2>&1 ||
    status=$?
cat "$scratch/verify.log"
# Every line it prints is a setting it ignored or a path it could not find.
if [ "$status" -ne 0 ] || [ -s "$scratch/verify.log" ]; then
    echo "FAIL: systemd-analyze verify (exit $status)" >&2
    failures=$((failures + 1))
else
    echo "ok   nothing to report"
fi

echo "== systemd-analyze security --offline=true"
systemd-analyze security --offline=true --no-pager "$unit" >"$scratch/security.log" 2>&1 || true
grep -v '^✓' "$scratch/security.log" || true
level=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' "$scratch/security.log")
if [ -z "$level" ]; then
    cat "$scratch/security.log" >&2
    echo "FAIL: no overall exposure level in the output" >&2
    failures=$((failures + 1))
elif awk -v level="$level" -v limit="$limit" 'BEGIN { exit !(level > limit) }'; then
    echo "FAIL: exposure $level is above $limit" >&2
    failures=$((failures + 1))
else
    echo "ok   exposure $level, at most $limit"
fi

[ "$failures" -eq 0 ] || exit 1
echo "gateway unit test passed"
