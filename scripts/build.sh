#!/usr/bin/env bash
# Configures (once) and builds the tree in build/ (or $BUILD_DIR). Extra arguments go to cmake
# at configure time, e.g. scripts/build.sh -DORVAX_BUILD_BENCH=ON
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ] || [ $# -gt 0 ]; then
  cmake -S . -B "$build" -G Ninja "$@"
fi
cmake --build "$build" -j "$(nproc)"
