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
wineboot --init >/dev/null 2>&1 || wine64 wineboot --init >/dev/null 2>&1
wine_runs_x86() { dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; }
