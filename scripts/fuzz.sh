#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz/, makes seed corpora with this project's writers and the peer tools, and runs
# every target for the given number of seconds (default 60). Findings land in
# build-fuzz/findings/<target>/, each run's full log in build-fuzz/logs/<target>.log.
#   scripts/fuzz.sh [seconds per target] [target ...]
# ORVAX_FUZZ_JOBS=N runs N targets at a time (default 1). ORVAX_FUZZ_TIMEOUT=S sets the
# seconds one input may take before it counts as a hang (default 10; more on a loaded or
# niced machine, where a fast input can wait that long for the processor).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
./scripts/install-deps.sh
./scripts/build.sh >/dev/null

fuzz=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVAX_BUILD_FUZZ=ON \
  -DORVAX_BUILD_TESTS=OFF -DORVAX_BUILD_APPS=OFF -DORVAX_SANITIZE=address,undefined,fuzzer-no-link >/dev/null
cmake --build "$fuzz" -j "$(nproc)"

corpus=$fuzz/corpus
mkdir -p "$corpus"/{bmp,jpeg,tiff,fpx,any,kroma_profile}
/usr/bin/python3 scripts/make-fuzz-seeds.py "$corpus" build/bin/tessera-tool
cp /usr/share/color/icc/*.icc /usr/share/color/icc/*.ICM /usr/share/color/icc/ghostscript/*.icc \
  "$fuzz"/windows/SYSTEM/COLOR/*.icm "$corpus/kroma_profile/" 2>/dev/null || true
# Version-4 LUT profiles (lutAtoBType, lutBtoAType) written by Little CMS, from the test build.
[ -x build/bin/kroma-v4-profiles ] && build/bin/kroma-v4-profiles "$corpus/kroma_profile" || true

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(bmp jpeg tiff fpx any kroma_profile)
export ORVAX_WINDOWS_DIR=$PWD/$fuzz/windows
jobs=${ORVAX_FUZZ_JOBS:-1}
mkdir -p "$fuzz/logs"

run_target() {
  local t=$1 timeout=${ORVAX_FUZZ_TIMEOUT:-10}
  mkdir -p "$fuzz/findings/$t" "$fuzz/work/$t"
  # Building a colour transform from a profile takes seconds in a sanitized build.
  [ "$t" = kroma_profile ] && [ "$timeout" -lt 60 ] && timeout=60
  ASAN_OPTIONS=detect_leaks=1 "$fuzz/bin/fuzz_$t" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 \
    -max_len=262144 -artifact_prefix="$fuzz/findings/$t/" -print_final_stats=1 \
    "$fuzz/work/$t" "$corpus/$t" >"$fuzz/logs/$t.log" 2>&1 || true
  {
    echo "== fuzz_$t for ${seconds}s"
    grep -E "INITED|DONE|stat::number_of_executed_units|ERROR|SUMMARY" "$fuzz/logs/$t.log" | tail -6
    grep -E "cov:" "$fuzz/logs/$t.log" | tail -1
    echo "findings: $(find "$fuzz/findings/$t" -type f ! -name 'slow-unit-*' | wc -l)"
  }
}

running=0
for t in "${targets[@]}"; do
  run_target "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait
