# FlashPix: 6000 x 4000 24-bit save and open, beside libjpeg-turbo and a raw write.
# Run by scripts/bench.sh with BUILD set to its build folder.
set -euo pipefail
json=$(mktemp)
"$BUILD/bin/bench_fpx" --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null
echo "== FlashPix (6000 x 4000, 24-bit RGB; JPEG tiles at quality level 4)"
/usr/bin/python3 - "$json" <<'PY'
import json, sys
times = {b["name"].split("/")[0]: b["real_time"] for b in json.load(open(sys.argv[1]))["benchmarks"]}
pairs = [("BM_FpxSaveUncompressed", "BM_RawWrite"), ("BM_FpxSaveJpeg", "BM_LibjpegCompress"),
         ("BM_FpxOpenUncompressed", "BM_RawWrite"), ("BM_FpxOpenJpeg", "BM_LibjpegCompress"),
         ("BM_BmpSave", "BM_RawWrite")]
for name, peer in pairs:
    print(f"{name}: {times[name]:.0f} ms  ({times[name] / times[peer]:.2f} x {peer} {times[peer]:.0f} ms)")
PY
rm -f "$json" /tmp/bench_fpx_*
