#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program against the built-in simulated sensor.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target kvex-rtn-demo
exec build/bin/kvex-rtn-demo "$@"
