# Sourced by the scripts that run Windows programs: makes a new Wine prefix in a
# temporary folder for this run (WINEPREFIX), removed with its Wine server at exit.
# wine_runs_x86 says whether 32-bit programs can run (32-bit Wine is installed).
export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/vantiro-wine.XXXXXX")
export WINEPREFIX
wine_prefix_cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap wine_prefix_cleanup EXIT
# One Wine server for the whole run, with no stream of ours: a server started by a
# test's program would hold that program's output pipes open until it ended, seconds
# after the program.
wineserver -p </dev/null >/dev/null 2>&1
wineboot --init >/dev/null 2>&1 || wine64 wineboot --init >/dev/null 2>&1
# The system's services (the service manager, rpcss, the desktop) started now, with
# no stream of ours, rather than by the first program that needs them.
wine net start rpcss </dev/null >/dev/null 2>&1 || true
wine_runs_x86() { dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; }
