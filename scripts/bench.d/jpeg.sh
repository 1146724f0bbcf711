#!/usr/bin/env bash
# The JPEG codec beside libjpeg-turbo (TurboJPEG), 6000 x 4000, in one run. BUILD names the
# benchmark build folder.
set -euo pipefail
build=${BUILD:-build-bench}
[ -x "$build/bin/bench_jpeg" ] || { echo "== jpeg: bench_jpeg not built (libturbojpeg0-dev missing?)"; exit 0; }
json=$(mktemp)
"$build/bin/bench_jpeg" --benchmark_repetitions="${BENCH_REPETITIONS:-5}" --benchmark_enable_random_interleaving=true \
  --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null
figures=${BENCH_FIGURES:-scripts/bench_figures.py}
echo "== jpeg (6000 x 4000, into RGB; speed as a ratio of libjpeg-turbo's, higher is better)"
/usr/bin/python3 "$figures" "$json" --speed --cpu BM_DecodeOurs420=BM_DecodeTurbo420@1.0 \
  BM_DecodeOurs444=BM_DecodeTurbo444@1.0 BM_DecodeOursProgressive420=BM_DecodeTurboProgressive420@0.7 \
  BM_EncodeOursLevel3=BM_EncodeTurbo422@1.0 || true
echo "  Our side with the SSE2 and the portable kernels, against the same peers:"
/usr/bin/python3 "$figures" "$json" --speed --cpu \
  WithKernels/BM_DecodeOurs420_sse2=BM_DecodeTurbo420 WithKernels/BM_DecodeOurs444_sse2=BM_DecodeTurbo444 WithKernels/BM_EncodeOursLevel3_sse2=BM_EncodeTurbo422 \
  WithKernels/BM_DecodeOurs420_portable=BM_DecodeTurbo420 WithKernels/BM_DecodeOurs444_portable=BM_DecodeTurbo444 \
  WithKernels/BM_EncodeOursLevel3_portable=BM_EncodeTurbo422 || true
# The 4:2:0 peer above replicates chroma as ours does; TurboJPEG's default interpolates it.
echo "  Ours against TurboJPEG 4:2:0 with its default interpolated chroma:"
/usr/bin/python3 "$figures" "$json" --speed --cpu BM_DecodeOurs420=BM_DecodeTurbo420Smooth || true
rm -f "$json"
