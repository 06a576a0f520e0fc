#!/usr/bin/env bash
# The Windows module as the system's own tools see it, in the Wine prefix of the
# environment: regsvr32 registers it, reg query finds the class, the ProgID, the
# in-process server, the client's plug-in key and the type library; the script host
# creates the object by its ProgID and calls it late-bound; regsvr32 /u removes the
# class, the ProgID and the plug-in key and leaves the type library.
#   com_server_check.sh BIN_DIR 64|32
set -uo pipefail
bin=$1
bits=$2
export WINEDEBUG=-all
# The system's programs of the module's bitness: Debian's `wine` starts the 32-bit
# ones (a 32-bit process sees syswow64 as its system folder), its wine64 loader the
# 64-bit ones.
if [[ $bits == 32 ]]; then
  loader=(wine)
  view=/reg:32
else
  loader=("$(command -v wine64 || echo /usr/lib/wine/wine64)")
  view=/reg:64
fi
system() { "${loader[@]}" "$@"; }
module=$(winepath -w "$bin/VantiroPlugin.dll")
clsid='{8E902927-A1DF-4A2F-8739-7725DBAEE5C7}'
libid='{557FA17D-8169-4A4A-8F05-DA9CD98F5623}'
failures=0

fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
query() { system reg query "$@" "$view" 2>/dev/null | tr -d '\r'; }
# expect_value KEY TEXT: the query of KEY shows TEXT
expect_value() {
  local key=$1 text=$2
  query "$key" | grep -qF -- "$text" || fail "reg query $key shows no \"$text\""
}
expect_gone() { query "$1" >/dev/null && fail "$1 is still registered"; }

system regsvr32 /s "$module" || fail "regsvr32 $module"
expect_value "HKCR\\CLSID\\$clsid" "Vantiro"
expect_value "HKCR\\CLSID\\$clsid\\InprocServer32" "VantiroPlugin.dll"
expect_value "HKCR\\CLSID\\$clsid\\InprocServer32" "Apartment"
expect_value "HKCR\\CLSID\\$clsid\\ProgID" "VantiroPlugin.Vantiro"
expect_value "HKCR\\VantiroPlugin.Vantiro\\CLSID" "$clsid"
expect_value "HKLM\\SOFTWARE\\Quillmere\\Viewer\\Plugins\\$clsid" "Vantiro Backend"
expect_value "HKLM\\SOFTWARE\\Quillmere\\Viewer\\Plugins\\$clsid" "has_gui"
expect_value "HKCR\\TypeLib\\$libid\\1.0" "Vantiro Plugin Library"

script=$(winepath -w "$(dirname "$0")/late_bound_client.js")
said=$(system cscript //nologo "$script" 2>&1 | tr -d '\r')
echo "$said"
expected=$'created\nHasGUI returned\nMenuOptionSelected returned\nNoSuchMember refused'
[[ $said == "$expected" ]] || fail "the script host said other than expected"

system regsvr32 /s /u "$module" || fail "regsvr32 /u $module"
expect_gone "HKCR\\CLSID\\$clsid"
expect_gone "HKCR\\VantiroPlugin.Vantiro"
expect_gone "HKLM\\SOFTWARE\\Quillmere\\Viewer\\Plugins\\$clsid"
expect_value "HKCR\\TypeLib\\$libid\\1.0" "Vantiro Plugin Library"

[[ $failures == 0 ]] && echo "the module registers, answers a script host and unregisters ($bits-bit)"
exit $(( failures > 0 ))
