#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine.
# Idempotent: packages already present are left alone.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config
  googletest libgtest-dev libgmock-dev
  libexpat1-dev libasound2-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine64 wine libwine-dev
  clang-format
  dbus-daemon dbus-bin
  dpkg-dev lintian
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# libsystemd-dev must match the installed libsystemd0 exactly: a newer one would upgrade
# systemd itself.
arch="$(dpkg --print-architecture)"
if ! dpkg-query -W -f='${Status}' libsystemd-dev 2>/dev/null | grep -q 'install ok installed'; then
  missing+=("libsystemd-dev=$(dpkg-query -W -f='${Version}' "libsystemd0:$arch")")
fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
