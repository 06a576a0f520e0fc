#!/usr/bin/env bash
# Makes sure the Debian packages this project builds and tests with are installed.
# As root it installs what is missing with apt-get; otherwise it names what is
# missing and stops.
#   scripts/deps.sh            the Linux build
#   scripts/deps.sh windows    also the Windows build: the mingw-w64 compilers (POSIX
#                              thread model), widl, Wine (with its 32-bit part where
#                              the archive lets it install), dpkg-dev for OpenSSL's
#                              source package, and Xvfb, the display of the windows
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ make pkg-config ccache
  libssl-dev openssl
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  nlohmann-json3-dev libcli11-dev
  tmux
  python3
  clang libclang-rt-14-dev
)

if [[ "${1:-}" == windows ]]; then
  PACKAGES+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools wine wine64 dpkg-dev xvfb)
fi

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done

# 32-bit Wine runs the x86 programs. Its i386 packages must match the installed
# amd64 ones exactly; while the archive's i386 index lags, apt refuses them, and the
# x86 tests are then skipped (scripts/test.sh windows-x86 says so), never failed.
wine32() {
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' && return 0
  if [[ $(id -u) -ne 0 ]]; then
    echo "32-bit Wine is not installed (as root: dpkg --add-architecture i386; apt-get install wine32:i386)" >&2
    return 0
  fi
  dpkg --add-architecture i386
  apt-get update -qq
  if ! apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null 2>&1; then
    echo "32-bit Wine cannot be installed now (the archive's i386 packages do not match); x86 programs will not run here"
  fi
}

if ((${#missing[@]} > 0)); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them first:  sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [[ "${1:-}" == windows ]]; then
  export DEBIAN_FRONTEND=noninteractive
  wine32
fi
