#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS_PER_TARGET]: builds the libFuzzer targets of
# tests/fuzz (clang, address and undefined-behaviour sanitizers) into
# build-fuzz and runs each for SECONDS_PER_TARGET seconds (default 40) on a
# copy of its seed corpus, so the committed corpus is never changed. Exits 1
# when any target crashes, leaks, times out or runs out of memory; what it
# found is kept in build-fuzz/artifacts/ and the target's log in
# build-fuzz/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-40}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS_PER_TARGET]" >&2
  exit 2
fi

build=build-fuzz
echo "== build (fuzz configuration) =="
cmake -S . -B "$build" -G Ninja -DZEL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  >/dev/null
cmake --build "$build" -j "$(nproc)"

# The dictionary each target mutates with, when it has one.
dict_for() {
  case $1 in
    fuzz_framer) echo tests/fuzz/dict/framer.dict ;;
    fuzz_frame_parser | fuzz_frame_reader) echo tests/fuzz/dict/frame.dict ;;
    fuzz_dispatcher | fuzz_list_file | fuzz_settings_file | fuzz_json_writer) echo tests/fuzz/dict/json.dict ;;
    fuzz_media_setup) echo tests/fuzz/dict/media.dict ;;
  esac
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/corpus-run" "$build/artifacts" "$build/logs"
failed=()
total=0
for corpus in tests/fuzz/corpus/*/; do
  target=$(basename "$corpus")
  exe=$build/bin/$target
  [ -x "$exe" ] || { echo "$target: not built" >&2; failed+=("$target"); continue; }
  run=$build/corpus-run/$target
  rm -rf "$run"
  cp -r "$corpus" "$run"
  log=$build/logs/$target.log
  args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$build/artifacts/$target-")
  dict=$(dict_for "$target")
  [ -n "$dict" ] && args+=(-dict="$dict")
  status=ok
  "$exe" "${args[@]}" "$run" >"$log" 2>&1 || status=FAILED
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  units=$(find "$run" -type f | wc -l)
  printf '%-20s %8s exec/s %10s runs %6s corpus  %s\n' "$target" "${rate:-?}" "${execs:-?}" "$units" "$status"
  total=$((total + 1))
  if [ "$status" != ok ]; then
    failed+=("$target")
    grep -E "ERROR: |runtime error|fuzz check failed|Test unit written" "$log" | head -5 | sed 's/^/    /'
  fi
done

echo "fuzz: $total targets, ${#failed[@]} failed, ${seconds} s each${failed:+: ${failed[*]}}"
[ ${#failed[@]} -eq 0 ]
