#!/usr/bin/env bash
# The soak run: the plug-in in qmhost against muxsim through CYCLES dropped
# connections (default 10000; every 10th preceded by a notice, every 50th a
# rejection the plug-in answers by connecting again), at VANTIRO time scale SCALE
# (default 0.002). Prints the host's file descriptors, threads and memory once the
# run has settled and at the end; fails when they grew, when a drop was not followed
# by a new login, or when a password reached the trace.
#
#   scripts/soak.sh [CYCLES] [SCALE]
set -euo pipefail
cd "$(dirname "$0")/.."

cycles=${1:-10000}
scale=${2:-0.002}
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target soak_run >/dev/null || {
  echo "soak: the build failed:" >&2
  cmake --build --preset default --target soak_run >&2 || true
  exit 1
}
echo "soak: $cycles drops at time scale $scale"
start=$SECONDS
SOAK_CYCLES=$cycles SOAK_TIME_SCALE=$scale QM_TEST_BIN_DIR=$PWD/build/bin QM_TEST_LIB_DIR=$PWD/build/lib \
  build/bin/soak_run --gtest_brief=1
echo "soak: done in $((SECONDS - start)) s"
