#!/usr/bin/env bash
# TIFF reading and writing of a 6000 x 4000 48-bit RGB image beside libtiff's strip API.
# Run by scripts/bench.sh with BUILD set to its build folder. Prints each time and the
# speed relative to libtiff measured in the same run (above 1.00: faster than libtiff).
set -euo pipefail
build=${BUILD:-build-bench}
json=$(mktemp)
"$build/bin/bench_tiff" --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null
echo "== TIFF files (6000 x 4000, 48-bit RGB; uncompressed: one strip; LZW and Deflate with predictor 2: written by libtiff, 32-row strips)"
/usr/bin/python3 - "$json" <<'PY'
import json, sys
times = {b["name"].split("/")[0]: b["real_time"] for b in json.load(open(sys.argv[1]))["benchmarks"]}
for ours, peer in (("BM_TesseraRead48", "BM_LibtiffRead48"), ("BM_TesseraWrite48", "BM_LibtiffWrite48"),
                   ("BM_TesseraReadLzwPredictor48", "BM_LibtiffReadLzwPredictor48"),
                   ("BM_TesseraReadDeflatePredictor48", "BM_LibtiffReadDeflatePredictor48")):
    print(f"{ours}: {times[ours]:.1f} ms, {peer}: {times[peer]:.1f} ms, "
          f"speed {times[peer] / times[ours]:.2f} x libtiff")
print(f"floor (the image's bytes by plain read()/write() calls): read {times['BM_SyscallRead48']:.1f} ms, "
      f"write {times['BM_SyscallWrite48']:.1f} ms")
PY
rm -f "$json"
