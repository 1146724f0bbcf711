#!/usr/bin/env bash
# Builds the benchmarks in build-bench/ (optimised) and runs each one beside its peer,
# printing every figure as a ratio against the peer measured in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
build=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVAX_BUILD_BENCH=ON -DORVAX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

# Runs a benchmark program to JSON and prints "name: value ms (ratio x peer)" per pair.
ratios() {
  local program=$1; shift
  local json
  json=$(mktemp)
  ORVAX_WINDOWS_DIR=$PWD/$build/windows "$build/bin/$program" --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null
  /usr/bin/python3 - "$json" "$@" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
times = {b["name"].split("/")[0]: b["real_time"] for b in data["benchmarks"]}
extra = {b["name"].split("/")[0]: b for b in data["benchmarks"]}
for pair in sys.argv[2:]:
    name, peer = pair.split("=")
    line = f"{name}: {times[name]:.2f} ms"
    if peer:
        line += f"  ({times[name] / times[peer]:.2f} x {peer} {times[peer]:.2f} ms)"
    for key in ("peak_rss_MiB", "peak_growth_MiB", "image_MiB"):
        if key in extra[name]:
            line += f"  {key}={extra[name][key]:.0f}"
    print(line)
PY
  rm -f "$json"
}

echo "== image store (6000 x 4000, 48-bit RGB unless noted)"
ratios bench_core BM_SetDataStrips48=BM_MemoryCopy48 BM_SetDataStrips48=BM_MemoryCopyFresh48 \
  BM_SetDataStripsWarm48=BM_MemoryCopy48 BM_FlipH48=BM_MemoryCopy48 \
  BM_Rotate90_48=BM_MemoryCopy48 BM_DisplayQuarterFirst24=BM_MemoryCopy24 BM_DisplayQuarterWarm24=BM_MemoryCopy24 \
  BM_DisplayQuarterFirstManaged24=BM_DisplayQuarterFirst24 BM_SetColorSpaceManagedRgbToCmyk=BM_SetColorSpacePlainRgbTo48

echo "== in-tile kernels (one 128 x 128 48-bit tile, in the cache)"
ratios bench_tile_kernels BM_TileMirror48=BM_TileMemoryCopy48 BM_TileMirrorPortable48=BM_TileMemoryCopy48 \
  BM_TileFlip48=BM_TileMemoryCopy48 BM_TileTurn90_48=BM_TileMemoryCopy48 BM_TileStore48=BM_TileMemoryCopy48

# Further benchmark programs add their own sections here.
for extra in scripts/bench.d/*.sh; do
  [ -e "$extra" ] && BUILD="$build" bash "$extra"
done
exit 0
