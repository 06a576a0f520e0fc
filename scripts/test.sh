#!/usr/bin/env bash
# Builds a preset (default unless named: default, asan, tsan, windows-x64,
# windows-x86) and runs every test. Most tests wait on sockets, child programs and
# scaled timers rather than compute, so ctest runs twice as many at once as there
# are cores (VANTIRO_TEST_JOBS to choose another number). The Windows presets' tests
# run under Wine, in a Wine prefix made for the run in a temporary folder: the unit
# tests through ctest, then the end-to-end suite of the default build with the
# Windows build's client side (qmhost.exe, regsvr.exe, qmreg.exe and the module),
# one test at a time, as they share the prefix's registry; then the tests of the
# dialogs and message boxes once more with real windows (qmhost.exe --windows, on
# the run's virtual display).
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
# The unit tests see no display: a form or box a test leaves to the system would
# otherwise wait for a person.
env -u DISPLAY ctest --preset "$preset" -j "$jobs"
case "$preset" in
  windows-*)
    scripts/build.sh default
    echo "End-to-end tests with the client side of build-$preset"
    VANTIRO_E2E_WINDOWS_BIN="$PWD/build-$preset/bin" QM_TEST_BIN_DIR="$PWD/build/bin" \
      QM_TEST_LIB_DIR="$PWD/build/lib" build/bin/e2e_tests --gtest_brief=1
    if [[ -z "${DISPLAY:-}" ]]; then
      echo "No X display (Xvfb is not installed): the tests with real windows are not run"
      exit 1
    fi
    echo "The dialogs' end-to-end tests with real windows (display $DISPLAY)"
    VANTIRO_E2E_REAL_WINDOWS=1 VANTIRO_E2E_WINDOWS_BIN="$PWD/build-$preset/bin" QM_TEST_BIN_DIR="$PWD/build/bin" \
      QM_TEST_LIB_DIR="$PWD/build/lib" build/bin/e2e_tests --gtest_brief=1 \
      --gtest_filter='LoginPrompt*:LoginDialog*:PasswordValidation*:Outcomes/*:PasswordChange*:Changes/*:LateEnds/*:PluginHostTest.*:MinimalHost*'
    if [[ "$preset" == windows-x64 ]]; then
      echo "Every dialog and message box shown and photographed, and the dialogs' tab order"
      scripts/screens.sh "$WINEPREFIX/screens"
    fi
    ;;
esac
