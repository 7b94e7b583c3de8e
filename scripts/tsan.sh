#!/usr/bin/env bash
# Builds with ThreadSanitizer and runs the threaded tests (label "threaded").
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
bash scripts/build.sh build-tsan -DZEL_SANITIZE=thread -DZEL_BUILD_BENCH=OFF -DZEL_BUILD_UI=OFF -DCMAKE_BUILD_TYPE=Debug
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
(cd build-tsan && ctest --output-on-failure -j2 -L threaded)
