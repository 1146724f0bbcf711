#!/usr/bin/env bash
# Sets up, builds and starts Orvax Scan with the Windows root of the build tree (the data
# source module and the profiles). Arguments are image files to open; without any, the
# scanner's data source is opened at start. Where there is no display, the program runs on
# Qt's offscreen platform.
#   --demo   runs the image library's demo instead: a chart turned and drawn into demo.ppm.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
build=${BUILD_DIR:-build}

if [ "${1:-}" = "--demo" ]; then
  shift
  "$build/bin/tessera-tool" demo demo.ppm --size 960x640 --rotate 90 --zoom 1:2 "$@"
  echo "wrote demo.ppm"
  exit 0
fi

export ORVAX_WINDOWS_DIR="${ORVAX_WINDOWS_DIR:-$PWD/$build/windows}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
fi
exec "$build/bin/orvax-scan" "$@"
