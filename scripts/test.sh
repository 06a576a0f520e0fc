#!/usr/bin/env bash
# Builds a preset (default unless named: default, asan, tsan) and runs every test.
# Most tests wait on sockets, child programs and scaled timers rather than compute,
# so ctest runs twice as many at once as there are cores (VANTIRO_TEST_JOBS to
# choose another number).
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-default}
jobs=${VANTIRO_TEST_JOBS:-$((2 * $(nproc)))}
scripts/build.sh "$preset"
ctest --preset "$preset" -j "$jobs"
