#!/usr/bin/env bash
# scripts/build.sh DIR [cmake options...]: configures and builds into DIR
# (only the targets named in ZEL_TARGETS when it is set).
set -euo pipefail
dir=$1; shift
cmake -S "$(dirname "$0")/.." -B "$dir" -G Ninja "$@" >/dev/null
targets=()
for t in ${ZEL_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
