#!/usr/bin/env bash
# Configures and builds one preset: default (RelWithDebInfo), asan, tsan, or the
# Windows builds windows-x64 and windows-x86 (mingw-w64; OpenSSL for the target is
# built once per machine from Debian's source package by scripts/openssl-windows.sh).
# VANTIRO_WERROR=ON in the environment turns warnings into errors (CI does that);
# without it the build folder keeps the setting it has.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-default}
extra=()
case "$preset" in
  windows-x64 | windows-x86)
    scripts/deps.sh windows
    openssl=$(scripts/openssl-windows.sh "${preset#windows-}")
    echo "OpenSSL for $preset: $(cat "$openssl/VERSION") ($openssl)"
    extra+=(-DVANTIRO_OPENSSL_ROOT="$openssl")
    ;;
  *)
    scripts/deps.sh
    ;;
esac
cmake --preset "$preset" ${VANTIRO_WERROR:+-DVANTIRO_WERROR="$VANTIRO_WERROR"} "${extra[@]}" >/dev/null
cmake --build --preset "$preset"
