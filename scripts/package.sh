#!/usr/bin/env bash
# Builds the Debian package orvax-scan_VERSION_amd64.deb (CPack's DEB generator) from the
# build tree in build/ (or $BUILD_DIR) into OUTDIR (default: the build tree).
#   scripts/package.sh [OUTDIR]
# ORVAX_PACKAGE_NO_BUILD=1 packages the tree as it is built, without building first.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
out=$(realpath -m "${1:-$build}")
if [ "${ORVAX_PACKAGE_NO_BUILD:-0}" != 1 ]; then
  ./scripts/build.sh
fi
mkdir -p "$out"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out"
rm -rf "$out/_CPack_Packages"
ls "$out"/orvax-scan_*.deb
