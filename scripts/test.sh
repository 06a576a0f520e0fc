#!/usr/bin/env bash
# Builds a preset (default unless named: default, asan, tsan) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-default}
scripts/build.sh "$preset"
ctest --preset "$preset" -j "$(nproc)"
