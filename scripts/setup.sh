#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine.
# Idempotent: packages already present are left alone.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config
  googletest libgtest-dev libgmock-dev
  libexpat1-dev libasound2-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine64 wine libwine-dev wine64-tools
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  nsis
  clang-format
  clang libclang-rt-14-dev
  dbus-daemon dbus-bin
  dpkg-dev debhelper devscripts lintian strace
)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
NEED_UPDATE=0

# Wine's 32-bit side (for the 32-bit COM host tests) comes from the i386 architecture. It is
# installed only where the kernel runs 32-bit programs: elsewhere the `wine` command would pick
# its 32-bit loader and fail for every program ("Exec format error"). The probe is the smallest
# 32-bit ELF program: it calls exit(0).
can_run_32bit() {
  local probe
  probe="$(mktemp)"
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5b\x00\x00\x00\x5b\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\x31\xc0\x40\xcd\x80' >"$probe"
  chmod +x "$probe"
  local ok=1
  "$probe" 2>/dev/null || ok=0
  rm -f "$probe"
  [ "$ok" -eq 1 ]
}
if can_run_32bit; then
  PACKAGES+=(wine32:i386)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    NEED_UPDATE=1
  fi
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# libsystemd-dev must match the installed libsystemd0 exactly: a newer one would upgrade
# systemd itself. wine32:i386 pulls in the i386 copies of systemd's libraries, which are
# Multi-Arch: same (both architectures must carry one version), so they are pinned to the
# installed amd64 version in the same command. Where the archive no longer offers that
# version, the newest one is taken for all of them, and apt upgrades systemd with them.
arch="$(dpkg --print-architecture)"
is_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
offers() { apt-cache madison "$1" 2>/dev/null | awk -F'|' '{gsub(/ /, "", $2); print $2}' | grep -qxF "$2"; }
is_installed libsystemd-dev || missing+=(libsystemd-dev)

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get -o DPkg::Lock::Timeout=900 update -qq
  NEED_UPDATE=0
  systemd_version="$(dpkg-query -W -f='${Version}' "libsystemd0:$arch")"
  pins=()
  if ! offers libsystemd-dev "$systemd_version"; then
    systemd_version="$(apt-cache policy libsystemd-dev | awk '/Candidate:/ {print $2}')"
    pins+=("libsystemd0:$arch=$systemd_version" "libudev1:$arch=$systemd_version")
  fi
  for i in "${!missing[@]}"; do
    case "${missing[$i]}" in
      libsystemd-dev) missing[$i]="libsystemd-dev=$systemd_version" ;;
      wine32:i386) pins+=("libsystemd0:i386=$systemd_version" "libudev1:i386=$systemd_version") ;;
    esac
  done
  $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends \
    "${missing[@]}" "${pins[@]}" >/dev/null
elif [ "$NEED_UPDATE" -eq 1 ]; then
  $SUDO apt-get -o DPkg::Lock::Timeout=900 update -qq
fi

# LCDproc's clients (`lcdproc`, `lcdexec`) are test peers of the line server and its LCDd the
# benchmark's peer. The package is installed on its own, after the rest: it needs udev, which
# may bring a newer systemd, and apt then moves libsystemd-dev along with it. Its scripts would
# start LCDd on port 13666 (and the install fails if that start fails), so a start is refused
# for the install (a policy-rc.d of our own, unless the machine has one) and the service is
# disabled afterwards: the tests and the benchmark start their own LCDd on a free port.
if ! is_installed lcdproc; then
  echo "setup: installing lcdproc"
  export DEBIAN_FRONTEND=noninteractive
  policy=/usr/sbin/policy-rc.d
  own_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
    own_policy=1
    trap '$SUDO rm -f "$policy"' EXIT
  fi
  apt-cache show lcdproc >/dev/null 2>&1 || $SUDO apt-get -o DPkg::Lock::Timeout=900 update -qq
  status=0
  $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends lcdproc \
    >/dev/null || status=$?
  if [ "$own_policy" -eq 1 ]; then
    $SUDO rm -f "$policy"
    trap - EXIT
  fi
  [ "$status" -eq 0 ] || exit "$status"
  if [ -d /run/systemd/system ]; then
    $SUDO systemctl disable --now lcdproc.service >/dev/null 2>&1 || true
  else
    $SUDO systemctl disable lcdproc.service >/dev/null 2>&1 || true
  fi
fi
