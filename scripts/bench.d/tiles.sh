#!/usr/bin/env bash
# The store's in-tile kernels beside a memory copy of one 48-bit tile (96 KiB, in the cache).
# BUILD names the benchmark build folder.
set -euo pipefail
build=${BUILD:-build-bench}
[ -x "$build/bin/bench_tile_kernels" ] || { echo "== tiles: bench_tile_kernels not built"; exit 0; }
json=$(mktemp)
"$build/bin/bench_tile_kernels" --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null
echo "== in-tile kernels (one 128 x 128 48-bit tile; time as a ratio of its memory copy)"
/usr/bin/python3 - "$json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
t = {b["name"].split("/")[0]: b["real_time"] for b in runs}
peer = t["BM_TileMemoryCopy48"]
for name, v in t.items():
    if name != "BM_TileMemoryCopy48":
        print(f"{name}: {v / 1000:.2f} us  ({v / peer:.2f} x BM_TileMemoryCopy48 {peer / 1000:.2f} us)")
PY
rm -f "$json"
