#!/usr/bin/env bash
# Kroma beside Little CMS: run from the top-level bench script with BUILD set to its build
# folder; prints Mpixel/s and the ratios.
set -euo pipefail
cd "$(dirname "$0")/../.."
echo "== colour matching (Kroma beside Little CMS, 4-megapixel buffers)"
BUILD_DIR=${BUILD:-build-bench} ./scripts/bench-kroma.sh
