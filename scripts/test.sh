#!/usr/bin/env bash
# The test command: installs what is missing, builds the project, runs every
# test (the slow ones too, about 35 s of real time); then the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer, and
# every fuzz target for a bounded time (ZEL_FUZZ_SECONDS per target, default 20).
# After the tests of the normal build, bench/soak runs 1,000 devices through
# their automatic offline cycles for ZEL_SOAK_MINUTES (default 5) and fails on
# figures that keep growing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

echo "== build (warnings as errors) =="
bash scripts/build.sh build
echo "== tests (the slow ones too) =="
(cd build && ctest --output-on-failure -j2)
echo "== soak (${ZEL_SOAK_MINUTES:-5} minutes) =="
python3 bench/soak --minutes "${ZEL_SOAK_MINUTES:-5}" --bin build/bin

echo "== build (address,undefined sanitizers) =="
bash scripts/build.sh build-asan -DZEL_SANITIZE=address,undefined -DZEL_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
echo "== tests under address,undefined sanitizers =="
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Leaks of libraries outside the project (fontconfig under Qt); see the file.
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
(cd build-asan && ctest --output-on-failure -j2 -LE slow)

echo "== threaded tests under thread sanitizer =="
bash scripts/tsan.sh

echo "== fuzz targets =="
bash scripts/fuzz.sh "${ZEL_FUZZ_SECONDS:-20}"
