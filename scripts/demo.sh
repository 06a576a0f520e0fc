#!/usr/bin/env bash
# The main job: the Vantiro plug-in at work, on a fresh machine with nothing set up.
#
# Builds the project, prepares a throw-away folder (certificates, a registry file, the
# console host's settings), registers the plug-in, starts the multiplexor emulator
# (muxsim) and runs the console host (qmhost) with the plug-in through a short session:
# address lookup, TLS login with a wrong stored password, the login dialog answered
# with the right one and the login that follows, heartbeats, the password's expiry
# checked with the mailbox-server emulator (mcsim) and the user set online, a hold
# request, a refused transfer with its notice, an activity notice, a password that
# expires in 5 days changed through the change dialog, a dropped connection and the
# reconnection, the logout.
#
# Both programs run in the background reading commands from named pipes; this script
# sends them commands one step at a time and prints what each reports:
#   host | ...   the console host's events (what crosses the plug-in boundary)
#   mux  | ...   the multiplexor emulator's events (what arrives on and leaves the wire)
#   mc   | ...   the mailbox-server emulator's events
# Each shows a password as ***, and no line this script prints holds one: the
# commands for a session by hand read the password from a file in the folder.
# Every step waits for what must happen, within a bound: qmhost's own `wait` command
# ends the host with status 3 when its text does not come, and this script stops with
# a non-zero status, naming the step, when anything it waits for does not happen.
#
# With --windows (or --windows x86) the client's side is the Windows build's: qmhost.exe,
# regsvr.exe, qmreg.exe and VantiroPlugin.dll (64-bit, or 32-bit where 32-bit Wine is
# installed) run under Wine in a Wine prefix made for the run, with the settings in
# its registry and the folder's paths in Windows form (Z:\...); the emulators stay
# this system's programs.
#
# Environment: VANTIRO_TIME_SCALE (default 0.2) multiplies every wait and interval of
# the plug-in (heartbeats every 3 s instead of 15 s, the reconnection pause 2 s
# instead of 10 s). The folder stays afterwards, for the trace and a session by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bin=$root/build/bin
lib=$root/build/lib

# The client's side: this build's programs, or with --windows the Windows build's.
windows=''
case "${1:-}" in
  --windows) windows=${2:-x64} ;;
  '') ;;
  *) echo "usage: scripts/demo.sh [--windows [x64|x86]]" >&2; exit 2 ;;
esac
case "$windows" in
  '' | x64 | x86) ;;
  *) echo "usage: scripts/demo.sh [--windows [x64|x86]]" >&2; exit 2 ;;
esac
if [[ -n $windows ]]; then
  host_bin=$root/build-windows-$windows/bin
  host_tool() { wine "$host_bin/$1.exe" "${@:2}"; }
  host_file() { winepath -w "$1" 2>/dev/null; }   # Z:\... for Wine
  plugin_module() { host_file "$host_bin/VantiroPlugin.dll"; }
else
  host_tool() { "$bin/$1" "${@:2}"; }
  host_file() { echo "$1"; }
  plugin_module() { echo "$lib/VantiroPlugin.so"; }
fi
# A path as the registry holds it: Windows form ("C:/x", which this build reads as /x).
registry_path() { if [[ -n $windows ]]; then host_file "$1"; else echo "C:$1"; fi; }

export VANTIRO_TIME_SCALE=${VANTIRO_TIME_SCALE:-0.2}
readonly profile=1234 password=11112222 wrong_password=11110000 new_password=13572468
readonly clsid='{8E902927-A1DF-4A2F-8739-7725DBAEE5C7}'
readonly settings_key='HKLM\SOFTWARE\Quillmere\Viewer\Settings'

work=''           # the throw-away folder
mux_pid='' mc_pid='' host_pid=''
mux_port='' mc_port=''
mux_printed=0 mc_printed=0 host_printed=0   # lines of each event log already shown
mux_matched=0 mc_matched=0 host_matched=0   # lines of each event log already used by a wait

# --- Output -----------------------------------------------------------------------

# Bold headings on a terminal only, so a saved log stays plain text.
if [[ -t 1 ]]; then bold=$'\033[1m' red=$'\033[1;31m' plain=$'\033[0m'; else bold='' red='' plain=''; fi
heading() { printf '\n%s== %s%s\n' "$bold" "$*" "$plain"; }
note() { printf '   %s\n' "$*"; }

fail() {
  printf '\n%sDEMO FAILED:%s %s\n' "$red" "$plain" "$*" >&2
  show_new_lines
  [[ -n $work ]] && printf 'Logs and trace are kept in %s\n' "$work" >&2
  exit 1
}

# Prints the lines each event log gained since the last call, emulators first (what
# they saw usually causes what the host then reports).
show_new_lines() {
  show_log "$work/muxsim.log" mux_printed ' mux  |'
  show_log "$work/mcsim.log" mc_printed ' mc   |'
  show_log "$work/host.log" host_printed ' host |'
}

show_log() {
  local file=$1 prefix=$3 total
  local -n printed=$2
  [[ -f $file ]] || return 0
  total=$(wc -l <"$file")
  if ((total > printed)); then
    sed -n "$((printed + 1)),${total}p" "$file" | sed "s/^/$prefix /"
    printed=$total
  fi
}

# --- Waiting ----------------------------------------------------------------------

# expect SIDE TEXT SECONDS: shows the logs as they grow until a line of SIDE's log
# (mux, mc or host) written after its previous match contains TEXT; fails after SECONDS.
expect() {
  local side=$1 text=$2 seconds=$3 file deadline total at
  case $side in
    mux) file=$work/muxsim.log ;;
    mc) file=$work/mcsim.log ;;
    *) file=$work/host.log ;;
  esac
  local -n matched=${side}_matched
  deadline=$((SECONDS + seconds))
  while :; do
    show_new_lines
    total=0
    [[ -f $file ]] && total=$(wc -l <"$file")  # the program may not have made it yet
    if ((total > matched)); then
      at=$(sed -n "$((matched + 1)),${total}p" "$file" | grep -n -F -m1 -- "$text" | cut -d: -f1 || true)
      if [[ -n $at ]]; then
        matched=$((matched + at))
        show_new_lines
        return 0
      fi
    fi
    grep -q -F 'wait_timeout' "$work/host.log" 2>/dev/null && fail "the host's wait for '$text' timed out"
    if [[ $side == host ]] && ! kill -0 "$host_pid" 2>/dev/null; then
      show_new_lines
      fail "qmhost ended before '$text' came"
    fi
    ((SECONDS < deadline)) || fail "no $side event with '$text' within $seconds s"
    sleep 0.1
  done
}

# host_wait TEXT SECONDS: the host waits for TEXT itself (and ends with status 3 when
# it does not come); the script follows the same lines.
host_wait() {
  host "wait $1 $(($2 * 1000))"
  expect host "$1" "$(($2 + 5))"
}

# --- The two programs -------------------------------------------------------------

mux() { printf '%s\n' "$*" >&3; }
# mux_set COMMAND: a setting for the emulator, in force once this returns (the
# emulator runs its commands in order and reports the `clients` command).
mux_set() {
  mux "$*"
  mux clients
  expect mux 'clients' 10
}
host() { printf '%s\n' "$*" >&4; }
mc() { printf '%s\n' "$*" >&5; }
# mc_set COMMAND: a setting for the mailbox-server emulator, in force once this returns.
mc_set() {
  mc "$*"
  mc mailboxes
  expect mc 'mailboxes' 10
}

# start_emulator SIDE PROGRAM FD ARGS...: runs PROGRAM (muxsim or mcsim) in the
# background reading commands from a named pipe held open on FD, writing text events
# to its log, and waits for the port it listens on (stored in SIDE_port, its process
# in SIDE_pid).
start_emulator() {
  local side=$1 program=$2 fd=$3 port
  shift 3
  mkfifo "$work/$program.in"
  "$bin/$program" "$@" --text <"$work/$program.in" >"$work/$program.log" 2>&1 &
  printf -v "${side}_pid" '%s' "$!"
  eval "exec $fd>\"\$work/$program.in\""
  expect "$side" 'listening' 10
  port=$(sed -n 's/.*listening .*port=\([0-9]*\).*/\1/p' "$work/$program.log" | head -n1)
  [[ -n $port ]] || fail "$program did not say its port"
  printf -v "${side}_port" '%s' "$port"
}

start_muxsim() {
  start_emulator mux muxsim 3 --make-certs "$work/certs" --profile "$profile:$password"
}

# The mailbox server shares the multiplexor's certificate, so the one CA the
# registry names is trusted for both.
start_mcsim() {
  start_emulator mc mcsim 5 --cert "$work/certs/server.pem" --key "$work/certs/server.key" \
    --mailbox "$profile:$password:first_time_user=1,pwd_expiry=+20"
}

start_qmhost() {
  mkfifo "$work/qmhost.in"
  # Started directly (not through a function), so that host_pid is the host itself.
  local program=("$bin/qmhost")
  [[ -z $windows ]] || program=(wine "$host_bin/qmhost.exe")
  "${program[@]}" --plugin VantiroPlugin.Vantiro --settings "$(host_file "$work/settings.json")" \
    --format text --events "$(host_file "$work/host.log")" \
    <"$work/qmhost.in" >"$work/qmhost.out" 2>&1 &
  host_pid=$!
  exec 4>"$work/qmhost.in"
}

# Waits at most SECONDS for process PID (WHAT) to end; fails unless its status is 0.
expect_exit_0() {
  local pid=$1 seconds=$2 what=$3 deadline=$((SECONDS + $2)) status=0
  while kill -0 "$pid" 2>/dev/null; do
    ((SECONDS < deadline)) || fail "$what did not end within $seconds s"
    sleep 0.1
  done
  wait "$pid" || status=$?
  show_new_lines
  ((status == 0)) || fail "$what ended with status $status"
}

cleanup() {
  exec 3>&- 4>&- 5>&-
  for pid in $host_pid $mux_pid $mc_pid; do
    kill -0 "$pid" 2>/dev/null && kill "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT

# --- The steps --------------------------------------------------------------------

build() {
  heading "Building (scripts/build.sh default)"
  scripts/build.sh default >"${TMPDIR:-/tmp}/vantiro-demo-build.log" 2>&1 ||
    { cat "${TMPDIR:-/tmp}/vantiro-demo-build.log" >&2; fail "the build failed"; }
  note "built into build/bin and build/lib"
  [[ -n $windows ]] || return 0
  heading "Building the Windows client side (scripts/build.sh windows-$windows)"
  scripts/build.sh "windows-$windows" >"${TMPDIR:-/tmp}/vantiro-demo-build.log" 2>&1 ||
    { cat "${TMPDIR:-/tmp}/vantiro-demo-build.log" >&2; fail "the Windows build failed"; }
  note "built into build-windows-$windows/bin"
  source scripts/wine-prefix.sh
  trap 'cleanup; wine_prefix_cleanup' EXIT
  if [[ $windows == x86 ]] && ! wine_runs_x86; then
    fail "32-bit Wine is not installed here: use --windows x64"
  fi
  note "a Wine prefix for this run: $WINEPREFIX"
}

prepare_folder() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/vantiro-demo.XXXXXX")
  heading "A throw-away folder: $work"

  # Settings the client keeps in the registry, paths in Windows form.
  if [[ -n $windows ]]; then
    note "the registry of the Wine prefix; paths in Windows form (Z:\\ is /)"
  else
    export QUILLMERE_REGISTRY=$work/registry.reg
    note "registry file (QUILLMERE_REGISTRY=$QUILLMERE_REGISTRY; \"C:/x\" is /x):"
  fi
  host_tool qmreg add "$settings_key" /v TraceFilesDir /d "$(registry_path "$work")" /f >/dev/null
  host_tool qmreg add "$settings_key" /v TraceEnabled /t REG_DWORD /d 1 /f >/dev/null
  host_tool qmreg add "$settings_key" /v CACertificate /d "$(registry_path "$work/certs/ca.pem")" /f >/dev/null
  host_tool qmreg query "$settings_key" | tr -d '\r' | sed 's/^/     /'

  # The plug-in's own settings, which the console host keeps per plug-in class.
  cat >"$work/settings.json" <<EOF
{
  "$clsid": {
    "mc_profile": "$profile",
    "mc_password": "$wrong_password"
  }
}
EOF
  note "settings for the console host ($work/settings.json): mc_profile $profile and"
  note "mc_password, a wrong one (not the one the multiplexor accepts)"
}

register_plugin() {
  heading "Registering the plug-in: regsvr $(plugin_module)"
  host_tool regsvr "$(plugin_module)" | tr -d '\r' | sed 's/^/   /'
}

start_programs() {
  heading "Starting the multiplexor emulator (throw-away CA and server certificate, profile $profile)"
  start_muxsim
  heading "Starting the mailbox-server emulator (same certificate; mailbox $profile, password good for 20 days)"
  start_mcsim
  heading "Starting the console host with the plug-in; it looks up the multiplexor's address"
  start_qmhost
  expect host 'loaded' 10
  # The answers to the login dialog are queued before the host knows the multiplexor,
  # so they are there whenever the dialog opens.
  note "the host queues its answers to the login dialog: the address and the right password"
  host "form TInputPasswordForm type EditServerName 127.0.0.1; type edtPassword $password; type edtVerify $password; click Button1"
  host "service XXX_MessageCenterAPI 127.0.0.1 $mc_port"
  host "service multiplexor 127.0.0.1 $mux_port"
  host_wait 'publish queue="service_lookup_response"' 15
}

refused_password() {
  heading "TLS connection (the server's certificate checked against ca.pem); the stored password is refused"
  expect mux 'connected' 15
  expect mux 'command=hello' 10
  expect mux 'result=password_invalid' 10
  host_wait 'queue="mc_login_failed"' 10
}

prompt_and_login() {
  heading "The plug-in asks for a valid password; the user types it twice and presses OK"
  note "the dialog's password boxes show one * per character, never the password"
  host_wait 'phase="shown"' 10
  host_wait 'phase="closed"' 10
  host_wait 'put_data key="mc_password"' 10
  heading "The plug-in logs in again with the new password"
  expect mux 'command=hello' 30
  expect mux 'result=ok' 10
  host_wait 'caption' 10
}

heartbeats() {
  heading "Heartbeats keep the link alive (every 15 s, 3 s at time scale $VANTIRO_TIME_SCALE)"
  expect mux 'command=heartbeat' 30
  expect mux 'result=ok' 10
}

password_checked() {
  heading "After a heartbeat's answer the plug-in asks for the mailbox server and checks the password's expiry"
  note "20 days left: the user goes online without a dialog"
  host_wait 'service_lookup_response" data="service_name:XXX_MessageCenterAPI' 30
  expect mc 'command=get_preferences' 15
  expect mc 'answer' 10
  host_wait 'publish queue="mc_logged_in"' 15
  expect mux 'command=offline_activity' 10
  note "the preferences are cached for other programs: $work/Preferences.start"
}

hold_call() {
  heading "The client asks to hold call 17; the multiplexor answers \"ok\""
  host 'publish mc_hold_call call_id:17\ncall_ip_address:10.0.0.7\nmax_hold_time:60\ncall_channel:2\n'
  expect mux 'command=call_hold' 10
  expect mux 'result=ok' 10
  answer_in_trace call_hold 10
}

transfer_refused() {
  heading "The client asks to transfer call 17; the multiplexor refuses it (\"failure\")"
  note "the plug-in shows a notice; the host answers its message box with OK"
  mux_set 'result call_intercept failure once'
  host 'box 1'
  host 'publish mc_intercept call_id:17\ncall_ip_address:10.0.0.7\ntransfer_number:5550123\ncall_channel:2\n'
  expect mux 'command=call_intercept' 10
  expect mux 'result=failure' 10
  host_wait 'message_box title="Transfer Failed"' 10
}

activity_notice() {
  heading "The multiplexor reports activity on call 17; the plug-in relays it to the host"
  mux 'activity call_id=17 state=answered'
  expect mux 'notice' 10
  host_wait 'publish queue="mc_activity"' 10
}

password_change() {
  heading "The password now expires in 5 days; the user logs in again (menu: Login As Another Profile)"
  mc_set "pref $profile pwd_expiry +5"
  note "the host queues its answers: the login dialog as before, then the change dialog with"
  note "the current password and a new one typed twice (every password box shows only *)"
  host "form TInputPasswordForm type EditServerName 127.0.0.1; type edtPassword $password; type edtVerify $password; click Button1"
  host "form TChangePassword type edtCurrentPassword $password; type edtNewPassword $new_password; type edtReNewPassword $new_password; click buttonChange"
  host 'menu 1203'
  host_wait 'form="TInputPasswordForm" phase="closed"' 15
  expect mux 'command=hello' 30
  expect mux 'result=ok' 10
  heading "The expiry check finds 5 days left and opens the change dialog"
  host_wait 'form="TChangePassword" phase="shown"' 60
  host_wait 'form="TChangePassword" phase="closed"' 10
  expect mc 'command=put_preferences' 15
  expect mc 'result=ok' 10
  host_wait 'put_data key="mc_password"' 10
  host_wait 'publish queue="mc_logged_in"' 10
  note "the mailbox server keeps the new password; the multiplexor checks logins against"
  note "the same mailboxes, so the emulator is told of it too"
  mux_set "profile $profile $new_password"
}

drop_and_reconnect() {
  heading "The connection drops (the emulator resets it); the plug-in pauses and reconnects"
  mux 'abort'
  expect mux 'closed' 10
  host_wait 'publish queue="service_lookup_response"' 30
  expect mux 'connected' 15
  expect mux 'command=hello' 10
  note "the password was checked in this session: the user is online again at once"
  host_wait 'publish queue="mc_logged_in"' 10
}

logout() {
  heading "The client ends the plug-in (Terminate): it logs out and the connection ends"
  note "the plug-in publishes \"mc_logged_out\" (reason:abort) and stops for good; no quit is sent"
  host 'terminate'
  host_wait 'publish queue="mc_logged_out" data="reason:abort' 20
  expect mux 'closed' 20
  host_wait 'method="Terminate"' 20
  host 'quit'
  expect_exit_0 "$host_pid" 15 qmhost
  mux 'quit'
  expect_exit_0 "$mux_pid" 10 muxsim
  mc 'quit'
  expect_exit_0 "$mc_pid" 10 mcsim
  exec 3>&- 4>&- 5>&-
  host_pid='' mux_pid='' mc_pid=''
}

# answer_in_trace COMMAND SECONDS: the plug-in's trace shows that it handled the answer
# to the last COMMAND request the emulator received; prints those trace lines.
answer_in_trace() {
  local id deadline=$((SECONDS + $2)) trace=$work/VantiroBackend.out
  id=$(grep -F "command=$1 " "$work/muxsim.log" | tail -n1 | sed -n 's/.* id=\([^ ]*\) .*/\1/p')
  [[ -n $id ]] || fail "no $1 request reached the emulator"
  until [[ -f $trace ]] && grep -q -F "ProcessPacket(): id=[$id]" "$trace"; do
    ((SECONDS < deadline)) || fail "the plug-in's trace shows no answer to $1 ($id)"
    sleep 0.1
  done
  grep -F -A1 "ProcessPacket(): id=[$id]" "$trace" | sed 's/^/ trace| /'
}

closing_words() {
  heading "Done: every step happened"
  # The commands below name the password's file, not the password.
  (umask 077 && printf '%s\n' "$new_password" >"$work/password")
  local from_file="\$(cat $work/password)"
  cat <<EOF
The plug-in's trace file: $work/VantiroBackend.out
The folder stays for you to look at; remove it with: rm -rf $work
EOF
  # A session by hand runs this system's client side (the run's Wine prefix is gone).
  [[ -z $windows ]] || return 0
  cat <<EOF

To run the same session by hand, in three terminals:

  1. the multiplexor emulator (it prints "listening ... port=PORT"; it reads commands
     as it runs):
       $bin/muxsim --cert $work/certs/server.pem --key $work/certs/server.key \\
         --profile "$profile:$from_file" --text

  2. the mailbox-server emulator (it prints its own "listening ... port=MCPORT"); the
     password expires in 5 days, so the change dialog opens after the login:
       $bin/mcsim --cert $work/certs/server.pem --key $work/certs/server.key \\
         --mailbox "$profile:$from_file:first_time_user=1,pwd_expiry=+5" --text

  3. the console host with the plug-in (PORT and MCPORT from the emulators):
       export QUILLMERE_REGISTRY=$work/registry.reg VANTIRO_TIME_SCALE=$VANTIRO_TIME_SCALE
       $bin/qmhost --plugin VantiroPlugin.Vantiro --settings $work/settings.json \\
         --service multiplexor=127.0.0.1:PORT --service XXX_MessageCenterAPI=127.0.0.1:MCPORT \\
         --format text --interactive

The settings now hold the password changed in the dialog (the one in
$work/password); the change dialog asks for it as the current password. To see the
login dialog again, type \`set mc_password 0\` in the host, then \`abort\` in the
multiplexor emulator: the next login is refused and the dialog opens at the terminal
(type the right password in edtPassword and edtVerify, then click Button1).
Then type, in the host:   publish mc_hold_call call_id:17\\ncall_ip_address:10.0.0.7\\nmax_hold_time:60\\ncall_channel:2\\n
in the emulator:          result call_intercept failure once
in the host:              publish mc_intercept call_id:17\\ncall_ip_address:10.0.0.7\\ntransfer_number:5550123\\ncall_channel:2\\n
                          (answer the message box at the terminal)
in the emulator:          activity call_id=17 state=answered
                          abort          (the plug-in reconnects after a pause)
in the host:              terminate, then quit
(\`help\` in each program lists its commands.)
EOF
}

build
prepare_folder
register_plugin
start_programs
refused_password
prompt_and_login
heartbeats
password_checked
hold_call
transfer_refused
activity_notice
password_change
drop_and_reconnect
logout
closing_words
