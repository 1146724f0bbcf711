#!/usr/bin/env bash
# The JPEG codec beside libjpeg-turbo (TurboJPEG), 6000 x 4000, in one run. BUILD names the
# benchmark build folder.
set -euo pipefail
build=${BUILD:-build-bench}
[ -x "$build/bin/bench_jpeg" ] || { echo "== jpeg: bench_jpeg not built (libturbojpeg0-dev missing?)"; exit 0; }
json=$(mktemp)
"$build/bin/bench_jpeg" --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null
echo "== jpeg (6000 x 4000, into RGB; speed as a ratio of libjpeg-turbo's, higher is better)"
/usr/bin/python3 - "$json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
t = {b["name"].split("/")[0]: b["real_time"] for b in runs}
cpu = {b["name"].split("/")[0]: b["cpu_time"] for b in runs}
for ours, peer, target in (("BM_DecodeOurs420", "BM_DecodeTurbo420", 1.0), ("BM_DecodeOurs444", "BM_DecodeTurbo444", 1.0),
                           ("BM_DecodeOursProgressive420", "BM_DecodeTurboProgressive420", 0.7),
                           ("BM_EncodeOursLevel3", "BM_EncodeTurbo422", 1.0)):
    print(f"{ours}: {t[ours]:.1f} ms, {peer}: {t[peer]:.1f} ms, speed {t[peer] / t[ours]:.2f} x"
          f" (cpu time {cpu[peer] / cpu[ours]:.2f} x; target {target})")
# Our side with the SSE2 and the portable kernels (the ratio against the same peer).
for b in runs:
    parts = b["name"].split("/")
    if parts[0] == "WithKernels" and "error_occurred" not in b:
        ours, level = parts[1].rsplit("_", 1)
        peer = {"BM_DecodeOurs420": "BM_DecodeTurbo420", "BM_DecodeOurs444": "BM_DecodeTurbo444",
                "BM_EncodeOursLevel3": "BM_EncodeTurbo422"}[ours]
        print(f"  {ours} with {level} kernels: {b['real_time']:.1f} ms, speed {t[peer] / b['real_time']:.2f} x"
              f" (cpu time {cpu[peer] / b['cpu_time']:.2f} x)")
# The 4:2:0 peer above replicates chroma as ours does; TurboJPEG's default interpolates it.
s = "BM_DecodeTurbo420Smooth"
print(f"  (TurboJPEG 4:2:0 with its default interpolated chroma: {t[s]:.1f} ms,"
      f" speed {t[s] / t['BM_DecodeOurs420']:.2f} x, cpu time {cpu[s] / cpu['BM_DecodeOurs420']:.2f} x)")
PY
rm -f "$json"
