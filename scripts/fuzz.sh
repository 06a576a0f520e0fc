#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer,
# folder build-fuzz/) and runs every fuzz target over its checked-in corpus for
# SECONDS_PER_TARGET seconds (default 20), one after the other. Fails when a target
# crashes, leaks or fails one of its checks; the input that did it is kept in
# build-fuzz/fuzz-artifacts/<target>/ and the run's output in build-fuzz/fuzz-logs/.
# New inputs a run finds go to build-fuzz/fuzz-corpus/<target>/, never into fuzz/.
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
cmake --preset fuzz ${VANTIRO_WERROR:+-DVANTIRO_WERROR="$VANTIRO_WERROR"} >/dev/null
cmake --build --preset fuzz

out=build-fuzz
status=0
for dir in fuzz/*/; do
  dir=${dir%/}
  name=$(sed -n 's/^vantiro_fuzz_target(\([A-Za-z0-9_]*\) .*/\1/p' "$dir/CMakeLists.txt" | head -n1)
  [[ -n $name && -d $dir/corpus ]] || continue
  mkdir -p "$out/fuzz-corpus/$name" "$out/fuzz-artifacts/$name" "$out/fuzz-logs"
  log=$out/fuzz-logs/$name.log
  # One process, one job: the machines this runs on are small and shared.
  if "$out/bin/$name" "$out/fuzz-corpus/$name" "$dir/corpus" \
      -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$out/fuzz-artifacts/$name/" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    echo "fuzz: $name: ${runs:-?} runs, ${speed:-?} exec/s"
  else
    echo "fuzz: $name: FAILED (see $log)"
    grep -E 'ERROR|SUMMARY|_fuzz: ' "$log" | head -n 5 || true
    status=1
  fi
done
exit $status
