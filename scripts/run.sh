#!/usr/bin/env bash
# Sets up, builds and starts Orvax Scan with the Windows root of the build tree (the data
# source module and the profiles). Arguments are image files to open; without any, the
# scanner's data source is opened at start. Where there is no display, the program runs on
# Qt's offscreen platform.
#   --demo DIR   scans one frame from the virtual film scanner offscreen, saves it into DIR
#                and prints the saved path.
#   --demo       runs the image library's demo instead: a chart turned and drawn into demo.ppm.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
build=${BUILD_DIR:-build}

if [ "${1:-}" = "--demo" ] && [ -n "${2:-}" ] && [ "${2#-}" = "$2" ]; then
  # Scans one frame from the virtual film scanner through TWAIN, offscreen, with the
  # scanner asking for an automatic save into DIR; prints the saved file's path.
  dir=$(mkdir -p "$2" && cd "$2" && pwd)
  work=$(mktemp -d)
  chmod 700 "$work"
  trap 'rm -rf "$work"' EXIT
  printf 'scan pixel=rgb depth=8 width=640 height=427 frame=scene autosave=0 folder=%s stem=demo\nclose\nquit\n' \
    "$dir" > "$work/script"
  ORVAX_WINDOWS_DIR="${ORVAX_WINDOWS_DIR:-$PWD/$build/windows}" QT_QPA_PLATFORM=offscreen \
    ORVAX_DS_SCRIPT="$work/script" ORVAX_SCAN_MESSAGE_LOG="$work/messages" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work" \
    "$build/bin/orvax-scan" > "$work/out" 2>&1 || true
  saved=$(sed -n 's/^Orvax Scan.ds: autosave status=0 path=//p' "$work/out" | tail -n 1)
  if [ -n "$saved" ] && [ -f "$saved" ]; then
    echo "$saved"
    exit 0
  fi
  echo "the scan was not saved" >&2
  cat "$work/out" "$work/messages" 2>/dev/null >&2 || true
  exit 1
fi

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
