#!/usr/bin/env bash
# Builds the benchmarks (the default preset's settings, RelWithDebInfo) and runs them
# all, then prints one table: each measurement beside its reference from the same
# run, the ratio, the goal and whether it is met. See README, "Benchmarks".
#
#   scripts/bench.sh            the full run (about eight minutes)
#   scripts/bench.sh --quick    shorter runs (idle 10 s, 100,000 requests, 1,000
#                               reconnects, one repetition): a check, not figures
#
# BENCH_BUILD_DIR names the build folder (default build-bench/); BENCH_OUT_DIR keeps
# the JSON results and the benchmarks' own output (default: a temporary folder).
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: scripts/bench.sh [--quick]" >&2; exit 2 ;;
esac

build=${BENCH_BUILD_DIR:-build-bench}
out=${BENCH_OUT_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/vantiro-bench-XXXXXX")}
mkdir -p "$out"

scripts/deps.sh
# The default preset's cache variables, in a folder of its own.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target connection_bench libs_bench table_bench diag_bench soak_bench
bin=$build/bin

if ((quick)); then
  idle_s=10 requests=100000 reconnects=1000 reps=1
else
  idle_s=60 requests=1000000 reconnects=10000 reps=5
fi

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" | tee "$out/load.txt"

# The idle plug-in spends (almost) no CPU of its own and its figure is its own process's
# CPU time, so it runs beside the others. Real time scale: heartbeats every 15 s.
VANTIRO_TIME_SCALE=1 "$bin/soak_bench" idle "$idle_s" >"$out/idle.json" 2>"$out/idle.log" &
idle_pid=$!

json() {  # json NAME PROGRAM [ARGS...]: a Google Benchmark run with its JSON kept
  local name=$1
  shift
  echo "running $name ..." >&2
  "$@" --benchmark_out="$out/$name.json" --benchmark_out_format=json >"$out/$name.log" 2>&1 ||
    echo "$name failed: see $out/$name.log" >&2
}

json connection "$bin/connection_bench" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true
json diag "$bin/diag_bench" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true
json table "$bin/table_bench"
echo "running soak_bench requests $requests ..." >&2
"$bin/soak_bench" requests "$requests" >"$out/requests.json" 2>"$out/requests.log" ||
  echo "requests failed: see $out/requests.log" >&2
# Reconnects at a small time scale: the pause after a drop is 10 scaled seconds.
echo "running soak_bench reconnects $reconnects ..." >&2
VANTIRO_TIME_SCALE=0.001 "$bin/soak_bench" reconnects "$reconnects" >"$out/reconnects.json" \
  2>"$out/reconnects.log" || echo "reconnects failed: see $out/reconnects.log" >&2
wait "$idle_pid" || echo "idle failed: see $out/idle.log" >&2

echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$out/load.txt"
python3 scripts/bench_table.py "$out"
echo "results and logs: $out"
