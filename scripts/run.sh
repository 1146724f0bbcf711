#!/usr/bin/env bash
# Sets up, builds, and runs the main job. Until the application is built this is the image
# library's demo: a chart made in memory, turned, and drawn into demo.ppm.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
build=${BUILD_DIR:-build}
"$build/bin/tessera-tool" demo demo.ppm --size 960x640 --rotate 90 --zoom 1:2 "$@"
echo "wrote demo.ppm"
