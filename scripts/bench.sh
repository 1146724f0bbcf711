#!/usr/bin/env bash
# Builds the benchmarks in build-bench/ (optimised) and runs each one beside its peer,
# printing every figure as a ratio against the peer measured in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
build=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVAX_BUILD_BENCH=ON -DORVAX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

# Each benchmark runs BENCH_REPETITIONS times (default 5), all repetitions of a program
# interleaved in a random order; figures are medians with their spread.
export BENCH_REPETITIONS=${BENCH_REPETITIONS:-5}
export BENCH_FIGURES=$PWD/scripts/bench_figures.py

# Runs a benchmark program to JSON and prints "name: median ms (spread), peer: ...: ratio" per
# pair (ratio: our time as a multiple of the peer's).
ratios() {
  local program=$1; shift
  local json
  json=$(mktemp)
  ORVAX_WINDOWS_DIR=$PWD/$build/windows "$build/bin/$program" --benchmark_repetitions="$BENCH_REPETITIONS" \
    --benchmark_enable_random_interleaving=true --benchmark_format=json --benchmark_out="$json" \
    --benchmark_out_format=json >/dev/null
  /usr/bin/python3 "$BENCH_FIGURES" "$json" --cpu "$@" || true
  rm -f "$json"
}

echo "== image store (6000 x 4000, 48-bit RGB unless noted)"
ratios bench_core BM_SetDataStrips48=BM_MemoryCopy48 BM_SetDataStrips48=BM_MemoryCopyFresh48 \
  BM_SetDataStripsWarm48=BM_MemoryCopy48 BM_GetDataStrips48=BM_MemoryCopy48 BM_FlipH48=BM_MemoryCopy48 \
  BM_Rotate90_48=BM_MemoryCopy48 BM_DisplayQuarterFirst24=BM_MemoryCopy24 BM_DisplayQuarterWarm24=BM_MemoryCopy24 \
  BM_DisplayQuarterFirstManaged24=BM_DisplayQuarterFirst24 BM_SetColorSpaceManagedRgbToCmyk=BM_SetColorSpacePlainRgbTo48

echo "== in-tile kernels (one 128 x 128 48-bit tile, in the cache)"
ratios bench_tile_kernels BM_TileMirror48=BM_TileMemoryCopy48 BM_TileMirrorPortable48=BM_TileMemoryCopy48 \
  BM_TileFlip48=BM_TileMemoryCopy48 BM_TileTurn90_48=BM_TileMemoryCopy48 BM_TileStore48=BM_TileMemoryCopy48

# Further benchmark programs add their own sections here.
# A section that fails is named and the others still run; the script then exits 1.
failed=0
for extra in scripts/bench.d/*.sh; do
  [ -e "$extra" ] || continue
  BUILD="$build" bash "$extra" || { echo "$extra failed (exit $?)" >&2; failed=1; }
done
exit "$failed"
