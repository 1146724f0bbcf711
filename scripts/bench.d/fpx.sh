# FlashPix: 6000 x 4000 24-bit save and open, beside libjpeg-turbo and a raw write.
# Run by scripts/bench.sh with BUILD set to its build folder.
set -euo pipefail
json=$(mktemp)
"$BUILD/bin/bench_fpx" --benchmark_repetitions="${BENCH_REPETITIONS:-5}" --benchmark_enable_random_interleaving=true \
  --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null
echo "== FlashPix (6000 x 4000, 24-bit RGB; JPEG tiles at quality level 4; time as a multiple of the peer's)"
/usr/bin/python3 "${BENCH_FIGURES:-scripts/bench_figures.py}" "$json" BM_FpxSaveUncompressed=BM_RawWrite \
  BM_FpxSaveJpeg=BM_LibjpegCompress BM_FpxOpenUncompressed=BM_RawWrite BM_FpxOpenJpeg=BM_LibjpegCompress \
  BM_BmpSave=BM_RawWrite || true
rm -f "$json" /tmp/bench_fpx_*
