#!/usr/bin/env bash
# Builds the Debian package with scripts/package.sh from the built tree, unpacks it with
# dpkg-deb -x into a temporary root, checks its file list and dependencies, and starts the
# programs from it.
#   package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/orvax-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
unset ORVAX_WINDOWS_DIR
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

BUILD_DIR=$build ORVAX_PACKAGE_NO_BUILD=1 "$source/scripts/package.sh" "$work/out" >"$work/package.log" 2>&1 ||
  { cat "$work/package.log" >&2; exit 1; }
deb=$(ls "$work"/out/orvax-scan_*_amd64.deb)
echo "built $(basename "$deb")"
root=$work/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -c "$deb" >"$work/list.txt"

failed=0
expect() {  # expect present|absent PATH
  if [ "$1" = present ] && [ ! -e "$root/$2" ] && [ ! -L "$root/$2" ]; then
    echo "missing from the package: $2" >&2; failed=1
  elif [ "$1" = absent ] && [ -e "$root/$2" ]; then
    echo "should not be in the package: $2" >&2; failed=1
  fi
}
for f in usr/bin/orvax-scan usr/bin/larkspur usr/bin/tessera-tool usr/bin/kroma-tool \
  usr/lib/libtessera.so.2 usr/lib/libkroma.so.2 usr/lib/libtessera.so usr/lib/libkroma.so \
  usr/include/tessera/tessera.h usr/include/win/gdi.h usr/include/kroma.h \
  usr/lib/cmake/Tessera/TesseraConfig.cmake usr/lib/cmake/Kroma/KromaConfig.cmake \
  usr/lib/cmake/Orvax/OrvaxTargets.cmake usr/lib/pkgconfig/tessera.pc usr/lib/pkgconfig/kroma.pc \
  usr/bin/windows/TWAIN_32.DLL "usr/bin/windows/TWAIN_32/Orvax/Orvax Scan 2.0/Orvax Scan.ds" \
  "usr/bin/windows/TWAIN_32/Orvax/Orvax Scan 2.0/OXD_SCSI.DLL" usr/bin/windows/SYSTEM/COLOR/OXsRGB.icm \
  usr/bin/windows/SYSTEM/COLOR/OXLab.icm usr/bin/windows/SYSTEM/COLOR/OXLch.icm \
  usr/share/applications/orvax-scan.desktop usr/share/applications/larkspur.desktop \
  usr/share/icons/hicolor/scalable/apps/larkspur.svg \
  usr/share/man/man1/orvax-scan.1.gz usr/share/man/man1/larkspur.1.gz \
  usr/share/man/man1/tessera-tool.1.gz usr/share/man/man1/kroma-tool.1.gz; do
  expect present "$f"
done
if [ -f "$source/app/icons/orvax-scan.svg" ]; then
  expect present usr/share/icons/hicolor/scalable/apps/orvax-scan.svg
fi
expect absent usr/bin/windows/SYSTEM/EventProbe.DLL  # a test module
if grep -E '_tests$|/test-windows' "$work/list.txt"; then echo "test programs in the package" >&2; failed=1; fi
desktop-file-validate "$root/usr/share/applications/orvax-scan.desktop" "$root/usr/share/applications/larkspur.desktop" ||
  { echo "a desktop entry is not valid" >&2; failed=1; }
grep -q '^MimeType=.*image/jpeg;' "$root/usr/share/applications/orvax-scan.desktop" || { echo "no MIME types" >&2; failed=1; }
grep -q '^Icon=larkspur$' "$root/usr/share/applications/larkspur.desktop" || { echo "Larkspur has no icon" >&2; failed=1; }

# The dependencies come from the binaries.
depends=$(dpkg-deb -f "$deb" Depends)
for p in libc6 libstdc++6 libjpeg62-turbo libgsf-1-114 libqt6widgets6; do
  case "$depends" in *"$p "*|*"$p,"*|*"$p") ;; *) echo "Depends lacks $p: $depends" >&2; failed=1 ;; esac
done
[ "$failed" = 0 ]

# The programs start from the unpacked tree, with the Windows root beside them.
"$root/usr/bin/tessera-tool" --version | grep -qx 'tessera-tool 2.0'
"$root/usr/bin/kroma-tool" --version | grep -qx 'kroma-tool 2.0'
"$root/usr/bin/tessera-tool" demo "$work/demo.ppm" --size 32x16 | grep -q '^status=0: success$'
"$root/usr/bin/kroma-tool" info "$root/usr/bin/windows/SYSTEM/COLOR/OXsRGB.icm" | grep -q '^class=mntr$'
QT_QPA_PLATFORM=offscreen "$root/usr/bin/orvax-scan" --version | grep -q 'Orvax Scan 2.0'
QT_QPA_PLATFORM=offscreen "$root/usr/bin/larkspur" --help | grep -q 'slide-feeder'
for page in orvax-scan larkspur tessera-tool kroma-tool; do
  zcat "$root/usr/share/man/man1/$page.1.gz" >"$work/$page.1"
  grep -qi "^\.TH $page 1" "$work/$page.1" || { echo "manual page $page.1 is damaged" >&2; exit 1; }
done
echo "package passed"
