#!/usr/bin/env bash
# The main job on built-in defaults: builds the project, then walks through what the
# platform offers so far, in a throw-away folder: a settings file deployed the way
# an administrator would (a regedit export, UTF-16 with CR LF line ends), read back,
# changed and exported with the registry tool.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh default >/dev/null
bin=$PWD/build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUILLMERE_REGISTRY=$work/registry.reg

say() { printf '\n== %s\n' "$*"; }

say "An administrator's settings file, as regedit exports it (UTF-16LE, CR LF)"
printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\Quillmere\Viewer\Settings]' \
  '"InstallDir"="C:\\Program Files\\Quillmere\\Client"' \
  '"TraceFilesDir"="C:\\Program Files\\Quillmere\\Client\\Logs"' \
  '"TraceEnabled"=dword:00000001' \
  '"maxfilesize_vtbackend"=dword:00100000' '' |
  iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$work/settings.reg"
echo "$work/settings.reg: $(wc -c <"$work/settings.reg") bytes"

say "qmreg import settings.reg"
"$bin/qmreg" import "$work/settings.reg"

say "qmreg query HKLM\\SOFTWARE\\Quillmere\\Viewer /s"
"$bin/qmreg" query 'HKLM\SOFTWARE\Quillmere\Viewer' /s

say "qmreg add ... /v CACertificate /d C:\\certs\\ca.pem /f"
"$bin/qmreg" add 'HKLM\SOFTWARE\Quillmere\Viewer\Settings' /v CACertificate /d 'C:\certs\ca.pem' /f

say "qmreg export HKLM\\SOFTWARE\\Quillmere exported.reg"
"$bin/qmreg" export 'HKLM\SOFTWARE\Quillmere' "$work/exported.reg" /y
cat "$work/exported.reg"

say "The registry file itself ($QUILLMERE_REGISTRY) is the same format"
echo "Done."
