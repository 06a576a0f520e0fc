#!/usr/bin/env bash
# Builds a preset (default unless named: default, asan, tsan, windows-x64,
# windows-x86) and runs every test. Most tests wait on sockets, child programs and
# scaled timers rather than compute, so ctest runs twice as many at once as there
# are cores (VANTIRO_TEST_JOBS to choose another number). The Windows presets' tests
# run under Wine, in a Wine prefix made for the run in a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-default}
jobs=${VANTIRO_TEST_JOBS:-$((2 * $(nproc)))}
scripts/build.sh "$preset"
case "$preset" in
  windows-*)
    source scripts/wine-prefix.sh
    if [[ "$preset" == windows-x86 ]] && ! wine_runs_x86; then
      echo "32-bit Wine is not installed here: the windows-x86 tests are not run"
      exit 0
    fi
    ;;
esac
ctest --preset "$preset" -j "$jobs"
