#!/usr/bin/env bash
# Builds the Kroma benchmark and runs it beside Little CMS in one run; prints Mpixel/s per
# case and the ratio of each Kroma engine to Little CMS (above 1 means Kroma is faster).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVAX_BUILD_BENCH=ON -DORVAX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target kroma_bench
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$build/bin/kroma_bench" --benchmark_min_time=0.3 --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true --benchmark_format=json --benchmark_out="$out" \
  --benchmark_out_format=json >/dev/null
/usr/bin/python3 - "$out" <<'PY'
import json, sys
rows = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    peer, case = b["run_name"].split("/", 1)
    rows.setdefault(case, {})[peer] = b["items_per_second"] / 1e6
print(f"{'case':24} {'lcms':>9} {'trilinear':>10} {'ratio':>6} {'tetrahedral':>12} {'ratio':>6}   (Mpixel/s)")
for case, r in rows.items():
    l, t, h = r.get("lcms", 0), r.get("kroma_trilinear", 0), r.get("kroma_tetrahedral", 0)
    print(f"{case:24} {l:9.1f} {t:10.1f} {t / l if l else 0:6.2f} {h:12.1f} {h / l if l else 0:6.2f}")
PY
