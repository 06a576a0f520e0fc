#!/usr/bin/env bash
# Builds the fuzz targets of the asan preset (clang, AddressSanitizer +
# UndefinedBehaviorSanitizer, libFuzzer's instrumentation; folder build-asan/) and
# runs every fuzz target over its checked-in corpus for SECONDS_PER_TARGET seconds
# (default 20), as many at once as there are cores, each in one process. Fails when a
# target crashes, leaks or fails one of its checks; the input that did it is kept in
# build-asan/fuzz-artifacts/<target>/ and the run's output in build-asan/fuzz-logs/.
# New inputs a run finds go to build-asan/fuzz-corpus/<target>/, never into fuzz/.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds < 1)); then
  echo "usage: scripts/fuzz.sh [SECONDS_PER_TARGET]" >&2
  exit 2
fi

scripts/deps.sh
cmake --preset asan ${VANTIRO_WERROR:+-DVANTIRO_WERROR="$VANTIRO_WERROR"} >/dev/null
cmake --build --preset asan --target fuzz_targets

out=build-asan

# Runs one target over its corpus and prints one line on how it went; fails with it.
run_target() {
  local dir=$1 name=$2
  mkdir -p "$out/fuzz-corpus/$name" "$out/fuzz-artifacts/$name" "$out/fuzz-logs"
  local log=$out/fuzz-logs/$name.log
  if "$out/bin/$name" "$out/fuzz-corpus/$name" "$dir/corpus" \
      -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$out/fuzz-artifacts/$name/" >"$log" 2>&1; then
    local runs speed
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    echo "fuzz: $name: ${runs:-?} runs, ${speed:-?} exec/s"
  else
    echo "fuzz: $name: FAILED (see $log)"
    grep -E 'ERROR|SUMMARY|_fuzz: ' "$log" | head -n 5 || true
    return 1
  fi
}

# One process and one job per target, as many targets at once as there are cores.
slots=$(nproc)
status=0
running=0
for dir in fuzz/*/; do
  dir=${dir%/}
  name=$(sed -n 's/^vantiro_fuzz_target(\([A-Za-z0-9_]*\) .*/\1/p' "$dir/CMakeLists.txt" | head -n1)
  [[ -n $name && -d $dir/corpus ]] || continue
  if ((running >= slots)); then
    wait -n || status=1
    running=$((running - 1))
  fi
  run_target "$dir" "$name" &
  running=$((running + 1))
done
while ((running > 0)); do
  wait -n || status=1
  running=$((running - 1))
done
exit $status
