#!/usr/bin/env bash
# Builds OpenSSL for Windows from Debian's own source package, as static libraries,
# once per machine and target, and prints the folder it is installed in (its
# include/ and lib/). Debian ships no OpenSSL for mingw-w64; nothing prebuilt from
# elsewhere is used.
#   scripts/openssl-windows.sh x64|x86
# The source is the version the archive ships (`apt-get source openssl`, which needs
# a deb-src entry for the same suites: added as root when missing). The result is
# kept outside the work tree, in ${VANTIRO_CACHE:-~/.cache/vantiro}/openssl-VERSION-TARGET-unpinned.
#
# no-pinshared: by default OpenSSL pins the module that holds its code so that it is
# never unloaded; linked into the plug-in, that would keep the plug-in's DLL loaded
# until the process ends. Unpinned, the module unloads when COM frees it, and
# OpenSSL's own exit handler, registered in the module, cleans up as it goes.
set -euo pipefail

target=${1:?usage: openssl-windows.sh x64|x86}
case "$target" in
  x64) triple=x86_64-w64-mingw32 configure_target=mingw64 options=() ;;
  # The 32-bit assembler modules come out position-independent (GOT-relative
  # relocations), which COFF cannot represent: the C implementations are used.
  x86) triple=i686-w64-mingw32 configure_target=mingw options=(no-asm) ;;
  *) echo "openssl-windows.sh: unknown target $target (x64 or x86)" >&2; exit 2 ;;
esac
cache=${VANTIRO_CACHE:-$HOME/.cache/vantiro}

log() { echo "openssl-windows.sh: $*" >&2; }

# The versions of the source package the archive lists, newest first.
source_versions() {
  apt-cache showsrc openssl 2>/dev/null | sed -n 's/^Version: //p' | sort -u -r -V
}

if [[ -z "$(source_versions)" ]]; then
  if [[ $(id -u) -ne 0 ]]; then
    log "no deb-src entry serves openssl; as root this script adds one"
    exit 1
  fi
  # The same archives and suites as the binary entries, for sources.
  list=/etc/apt/sources.list.d/vantiro-deb-src.sources
  rm -f "$list.new"
  for file in /etc/apt/sources.list.d/*.sources; do
    [[ "$file" == "$list" ]] && continue
    if grep -q '^Types:.*\bdeb\b' "$file" && grep -q 'debian' "$file"; then
      sed -e 's/^Types:.*/Types: deb-src/' "$file" >>"$list.new"
      echo >>"$list.new"
    fi
  done
  if [[ -f /etc/apt/sources.list ]] && grep -q '^deb .*debian' /etc/apt/sources.list; then
    grep '^deb .*debian' /etc/apt/sources.list | sed 's/^deb /deb-src /' >/etc/apt/sources.list.d/vantiro-deb-src.list
  fi
  [[ -f "$list.new" ]] && mv "$list.new" "$list"
  log "added deb-src entries; updating the package lists"
  apt-get update -qq
  [[ -n "$(source_versions)" ]] || { log "apt-get still knows no openssl source"; exit 1; }
fi

prefix_of() { echo "$cache/openssl-$1-$target-unpinned"; }
built() { [[ -f "$1/lib/libssl.a" && -f "$1/lib/libcrypto.a" && -f "$1/include/openssl/ssl.h" ]]; }

# A version built before is used as it is; the newest first.
for version in $(source_versions); do
  if built "$(prefix_of "$version")"; then
    log "OpenSSL $version for $target, built before"
    prefix_of "$version"
    exit 0
  fi
done

command -v "$triple-gcc-posix" >/dev/null || { log "$triple-gcc-posix is missing (scripts/deps.sh windows)"; exit 1; }
command -v dpkg-source >/dev/null || { log "dpkg-source is missing (scripts/deps.sh windows)"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The newest version whose files the archive serves (an index may name a version
# whose files its pool does not hold yet).
version=
for candidate in $(source_versions); do
  if (cd "$work" && apt-get source -qq "openssl=$candidate" >/dev/null 2>&1); then
    version=$candidate
    break
  fi
  log "the source of openssl $candidate could not be fetched; trying an older one"
  rm -rf "${work:?}"/*
done
[[ -n "$version" ]] || { log "no source of openssl could be fetched"; exit 1; }
srcdir=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'openssl-*' | head -1)
[[ -n "$srcdir" ]] || { log "no source folder after apt-get source"; exit 1; }
prefix=$(prefix_of "$version")
log "building OpenSSL $version for $target (Debian's source package) into $prefix"

mkdir -p "$cache"
staging="$prefix.partial"
rm -rf "$staging"
buildlog="$work/build.log"
if ! (
  cd "$srcdir"
  # The POSIX thread model's compilers, as the product's own build uses.
  CC="$triple-gcc-posix" AR="$triple-ar" RANLIB="$triple-ranlib" RC="$triple-windres" \
    ./Configure "$configure_target" no-shared no-tests no-pinshared "${options[@]}" --prefix="$staging" --libdir=lib &&
    make -j"$(nproc)" build_libs &&
    make install_dev
) >"$buildlog" 2>&1; then
  tail -n 30 "$buildlog" >&2
  log "the build of OpenSSL $version for $target failed"
  exit 1
fi
rm -rf "$prefix"
mv "$staging" "$prefix"
echo "$version" >"$prefix/VERSION"
log "OpenSSL $version for $target is in $prefix"
echo "$prefix"
