#!/usr/bin/env bash
# Makes sure the Debian packages this project builds and tests with are installed.
# As root it installs what is missing with apt-get; otherwise it names what is
# missing and stops.
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

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them first:  sudo apt-get install ${missing[*]}" >&2
  exit 1
fi

echo "Installing Debian packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
