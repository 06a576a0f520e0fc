#!/usr/bin/env bash
# Configures and builds one preset: default (RelWithDebInfo), asan or tsan.
# VANTIRO_WERROR=ON in the environment turns warnings into errors (CI does that);
# without it the build folder keeps the setting it has.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-default}
scripts/deps.sh
cmake --preset "$preset" ${VANTIRO_WERROR:+-DVANTIRO_WERROR="$VANTIRO_WERROR"} >/dev/null
cmake --build --preset "$preset"
