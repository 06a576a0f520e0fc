#!/usr/bin/env bash
# Pictures of the plug-in's windows for the documentation: builds the 64-bit
# Windows build, runs its `screens` program under Wine on a virtual display (a Wine
# prefix and an Xvfb display made for the run), and saves each dialog and message
# box as a PNG file in docs/screens/ (or the folder given). It also checks that Tab
# walks each dialog's controls in their tab order. Exit status 0 when every picture
# was taken and every walk was right.
#   scripts/screens.sh [FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/screens}")
scripts/build.sh windows-x64 >/dev/null
source scripts/wine-prefix.sh
if [[ -z "${DISPLAY:-}" ]]; then
  echo "screens: no X display (Xvfb is not installed)" >&2
  exit 1
fi
pictures="$WINEPREFIX/pictures"
mkdir -p "$pictures" "$out"
status=0
walks=$(wine build-windows-x64/bin/screens.exe "$(winepath -w "$pictures")" </dev/null | tr -d "\r") || status=1
echo "$walks"

# Tab from the first focusable control: the server box, the mailbox number, the
# password twice, then OK, Exit and the save box (OK only while enabled); in the
# change dialog the three password boxes, then OK (while enabled), Cancel and the
# reminder (while it may be changed).
expected=(
  "tab login-address: EditServerName edtProfile edtPassword edtVerify Button1 Button2 CheckSavePassword"
  "tab login-server-list: ComboBoxServerName edtProfile edtPassword edtVerify Button1 Button2 CheckSavePassword"
  "tab login-saved-addresses: ComboBoxServerName edtProfile edtPassword edtVerify Button1 Button2 CheckSavePassword"
  "tab change-expiring: edtCurrentPassword edtNewPassword edtReNewPassword buttonCancel cReminder"
  "tab change-expired: edtCurrentPassword edtNewPassword edtReNewPassword buttonCancel"
)
for line in "${expected[@]}"; do
  if ! grep -qxF "$line" <<<"$walks"; then
    echo "screens: expected the walk \"$line\"" >&2
    status=1
  fi
done

# BMP (24-bit, bottom-up) to PNG, with the standard library only.
python3 - "$pictures" "$out" <<'PY'
import pathlib, struct, sys, zlib
source, target = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)
for bmp in sorted(source.glob('*.bmp')):
    data = bmp.read_bytes()
    offset, = struct.unpack_from('<I', data, 10)
    width, height = struct.unpack_from('<ii', data, 18)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):
        row = data[offset + y * stride: offset + y * stride + width * 3]
        rgb = bytearray(len(row))
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::3], row[1::3], row[0::3]
        rows.append(b'\0' + bytes(rgb))
    png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)) +
           chunk(b'IDAT', zlib.compress(b''.join(rows), 9)) + chunk(b'IEND', b''))
    (target / (bmp.stem + '.png')).write_bytes(png)
print(f"{len(list(source.glob('*.bmp')))} pictures in {target}")
PY
exit $status
