#!/usr/bin/env bash
# A 600 dpi 48-bit colour scan of SANE's test backend (its default 80 x 100 mm area, 40 % by
# 50 % of its bed) through Orvax Scan, the manager and the data source into a saved TIFF,
# beside scanimage writing the same scan as TIFF in the same run. Orvax Scan's time is the whole run of the program:
# start, opening the source, the scan, the save and the exit.
set -euo pipefail
build=${BUILD:-build-bench}
if ! command -v scanimage >/dev/null; then
  echo "== SANE scan: scanimage (sane-utils) is not installed"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sane" "$work/config" "$work/run" "$work/out"
chmod 700 "$work/run"
echo test > "$work/sane/dll.conf"
printf 'number_of_devices 1\ntest-picture "Color pattern"\n' > "$work/sane/test.conf"
export SANE_CONFIG_DIR="$work/sane"
cat > "$work/script" <<SCRIPT
device test:0
scan pixel=rgb depth=16 dpi=600 area=0,0,0.4,0.5 autosave=0 folder=$work/out stem=bench
close
quit
SCRIPT
now() { date +%s.%N; }
best_peer=999999 best_ours=999999
for _ in 1 2 3; do
  t0=$(now)
  scanimage -d test:0 --mode Color --depth 16 --resolution 600 --format=tiff > "$work/peer.tif"
  t1=$(now)
  rm -f "$work/out/"*
  HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen \
    ORVAX_WINDOWS_DIR="$PWD/$build/windows" ORVAX_DS_SCRIPT="$work/script" timeout 300 "$build/bin/orvax-scan" > "$work/log" 2>&1 || true
  t2=$(now)
  [ -s "$work/out/bench.tif" ] || { echo "== SANE scan: Orvax Scan saved nothing"; cat "$work/log"; exit 1; }
  best_peer=$(echo "if ($t1 - $t0 < $best_peer) $t1 - $t0 else $best_peer" | bc -l)
  best_ours=$(echo "if ($t2 - $t1 < $best_ours) $t2 - $t1 else $best_ours" | bc -l)
done
# The two files hold the same pixels.
/usr/bin/python3 - "$work/peer.tif" "$work/out/bench.tif" <<'PY'
import sys, tifffile
a, b = tifffile.imread(sys.argv[1]), tifffile.imread(sys.argv[2])
print("== SANE scan, 600 dpi 48-bit RGB %dx%d: %s" % (a.shape[1], a.shape[0],
      "same pixels as scanimage" if a.shape == b.shape and (a == b).all() else "PIXELS DIFFER from scanimage"))
PY
echo "$best_ours $best_peer" | awk '{printf "orvax-scan to TIFF: %.0f ms  (%.2f x scanimage --format=tiff %.0f ms), best of 3\n", $1*1000, $1/$2, $2*1000}'
