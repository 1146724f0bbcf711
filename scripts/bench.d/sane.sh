#!/usr/bin/env bash
# A 600 dpi 48-bit colour scan of SANE's test backend (its default 80 x 100 mm area, 40 % by
# 50 % of its bed) through Orvax Scan, the manager and the data source into a saved TIFF,
# beside scanimage writing the same scan as TIFF in the same run. Orvax Scan's time is the
# whole run of the program: start, opening the source, the scan, the save and the exit; the
# start and exit alone (the source opened on the device and closed, no scan) are timed too.
# Five runs of each, alternating; medians with the spread (lowest and highest).
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
printf 'device test:0\nclose\nquit\n' > "$work/start"
now() { date +%s.%N; }
orvax() {
  HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen \
    ORVAX_WINDOWS_DIR="$PWD/$build/windows" ORVAX_DS_SCRIPT="$1" timeout 300 "$build/bin/orvax-scan" > "$work/log" 2>&1 || true
}
peer=() ours=() start=()
for _ in 1 2 3 4 5; do
  t0=$(now)
  scanimage -d test:0 --mode Color --depth 16 --resolution 600 --format=tiff > "$work/peer.tif"
  t1=$(now)
  rm -f "$work/out/"*
  orvax "$work/script"
  t2=$(now)
  [ -s "$work/out/bench.tif" ] || { echo "== SANE scan: Orvax Scan saved nothing"; cat "$work/log"; exit 1; }
  orvax "$work/start"
  t3=$(now)
  peer+=("$(echo "$t1 - $t0" | bc -l)") ours+=("$(echo "$t2 - $t1" | bc -l)") start+=("$(echo "$t3 - $t2" | bc -l)")
done
# The two files hold the same pixels.
/usr/bin/python3 - "$work/peer.tif" "$work/out/bench.tif" "${peer[*]}" "${ours[*]}" "${start[*]}" <<'PY'
import statistics, sys, tifffile
a, b = tifffile.imread(sys.argv[1]), tifffile.imread(sys.argv[2])
print("== SANE scan, 600 dpi 48-bit RGB %dx%d: %s" % (a.shape[1], a.shape[0],
      "same pixels as scanimage" if a.shape == b.shape and (a == b).all() else "PIXELS DIFFER from scanimage"))
peer, ours, start = ([float(t) * 1000 for t in arg.split()] for arg in sys.argv[3:6])
m = statistics.median
spread = lambda t: "%.0f-%.0f" % (min(t), max(t))
print("orvax-scan to TIFF: %.0f ms (%s)  (%.2f x scanimage --format=tiff %.0f ms (%s)), medians of 5 alternating runs"
      % (m(ours), spread(ours), m(ours) / m(peer), m(peer), spread(peer)))
print("  of which start, opening the device and exit without a scan: %.0f ms (%s)" % (m(start), spread(start)))
PY
