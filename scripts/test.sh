#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test suite. Extra arguments go to ctest,
# e.g. scripts/test.sh -L unit
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
build=${BUILD_DIR:-build}
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
