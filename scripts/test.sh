#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test suite; then builds everything again
# with AddressSanitizer and UndefinedBehaviorSanitizer and runs the suites once more.
# Extra arguments go to ctest, e.g. scripts/test.sh -L unit. ORVAX_SKIP_SANITIZE=1 skips
# the sanitizer pass.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
jobs=$(nproc)

./scripts/build.sh
QT_QPA_PLATFORM=offscreen ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j "$jobs" "$@"

if [ "${ORVAX_SKIP_SANITIZE:-0}" != 1 ]; then
  asan=${ASAN_BUILD_DIR:-build-asan}
  # GCC leaves float-to-integer overflow out of "undefined"; it is named so that both
  # compilers check it.
  BUILD_DIR=$asan ./scripts/build.sh -DORVAX_SANITIZE=address,undefined,float-cast-overflow -DORVAX_BUILD_APPS=ON
  # Leak reports leave out only what the suppression file names; full unwinding at each
  # allocation lets them name libraries built without frame pointers.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0 \
    ctest --test-dir "$asan" --output-on-failure -j "$jobs" "$@"
fi
