# Sourced by the scripts that run Windows programs: makes a new Wine prefix in a
# temporary folder for this run (WINEPREFIX), removed with its Wine server at exit,
# and a virtual X display for the windows they show (Xvfb, DISPLAY), stopped at
# exit. wine_runs_x86 says whether 32-bit programs can run (32-bit Wine is
# installed).
export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/vantiro-wine.XXXXXX")
export WINEPREFIX
XVFB_PID=
wine_prefix_cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  [[ -n "$XVFB_PID" ]] && kill "$XVFB_PID" 2>/dev/null || true
}
trap wine_prefix_cleanup EXIT
# The display, before Wine starts its desktop on it: Xvfb picks a free number and
# writes it to the file descriptor given.
if command -v Xvfb >/dev/null; then
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" </dev/null >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 50); do [[ -s "$display_file" ]] && break; sleep 0.1; done
  [[ -s "$display_file" ]] && export DISPLAY=":$(head -1 "$display_file")"
  rm -f "$display_file"
fi
# One Wine server for the whole run, with no stream of ours: a server started by a
# test's program would hold that program's output pipes open until it ended, seconds
# after the program.
wineserver -p </dev/null >/dev/null 2>&1
wineboot --init >/dev/null 2>&1 || wine64 wineboot --init >/dev/null 2>&1
# Wine's windows are its own, not a window manager's: with none on the display, a
# managed window waits for one at each hiding. Wine then draws the frames itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f </dev/null >/dev/null 2>&1 || true
# The system's services (the service manager, rpcss, the desktop) started now, with
# no stream of ours, rather than by the first program that needs them.
wine net start rpcss </dev/null >/dev/null 2>&1 || true
wine_runs_x86() { dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; }
