#!/usr/bin/env bash
# TIFF reading and writing of a 6000 x 4000 48-bit RGB image beside libtiff's strip API.
# Run by scripts/bench.sh with BUILD set to its build folder. Prints each time and the
# speed relative to libtiff measured in the same run (above 1.00: faster than libtiff).
set -euo pipefail
build=${BUILD:-build-bench}
json=$(mktemp)
"$build/bin/bench_tiff" --benchmark_repetitions="${BENCH_REPETITIONS:-5}" --benchmark_enable_random_interleaving=true \
  --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null
echo "== TIFF files (6000 x 4000, 48-bit RGB; uncompressed: one strip; LZW and Deflate with predictor 2: written by libtiff, 32-row strips; speed as a ratio of libtiff's)"
/usr/bin/python3 "${BENCH_FIGURES:-scripts/bench_figures.py}" "$json" --speed --cpu \
  BM_TesseraRead48=BM_LibtiffRead48@1.1 BM_TesseraWrite48=BM_LibtiffWrite48@1.1 \
  BM_TesseraReadLzwPredictor48=BM_LibtiffReadLzwPredictor48 \
  BM_TesseraReadDeflatePredictor48=BM_LibtiffReadDeflatePredictor48 || true
echo "  The floor: the image's bytes by plain read() into fresh memory and write() into the truncated file:"
/usr/bin/python3 "${BENCH_FIGURES:-scripts/bench_figures.py}" "$json" --speed --cpu \
  BM_SyscallRead48=BM_LibtiffRead48 BM_SyscallWrite48=BM_LibtiffWrite48 || true
rm -f "$json"
