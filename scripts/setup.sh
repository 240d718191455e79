#!/usr/bin/env bash
# Installs what building, running and testing Pellvane Server needs on Debian 12.
# Only missing packages are installed; run as root (or through sudo).
#
#   bash scripts/setup.sh           installs the missing packages
#   bash scripts/setup.sh --check   installs nothing: fails at once, naming every command
#                                   below that cannot be found (scripts/test-all.sh runs it
#                                   right after the install)
set -euo pipefail

# Each package, then the commands of it that the scripts, the tests and the builds call; a
# program called by its full path is listed by that path. A script that calls a new command
# adds it here, beside its package. Packages without commands are libraries and sources.
requirements=(
  "cmake: cmake ctest"
  "ninja-build: ninja"
  "gcc: cc gcc"
  "g++: c++ g++"
  "clang-14: clang-14 clang++-14"
  "libclang-rt-14-dev:"
  "googletest:"
  "libgtest-dev:"
  "libgmock-dev:"
  "g++-mingw-w64-x86-64: x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix
    x86_64-w64-mingw32-windres"
  "wine64: /usr/lib/wine/wine64 /usr/lib/wine/wineserver64"
  "nsis: makensis"
  "xvfb: Xvfb /usr/bin/Xvfb"
  "x11-utils: xdpyinfo xev xprop xwininfo"
  "libx11-6:"
  "dbus: dbus-daemon dbus-send"
  "avahi-daemon: avahi-daemon"
  "avahi-utils: avahi-browse"
  "libavahi-compat-libdnssd1:"
  "iproute2: ip tc"
  "util-linux: mountpoint nsenter pivot_root unshare"
  "mount: mount umount"
  "procps: ps"
  "python3: python3"
  "git: git"
  "clang-format: clang-format"
  "desktop-file-utils: desktop-file-validate"
  # The Linux desktop of the tests: a panel whose systray hosts StatusNotifierItems, a
  # notification server with actions, a dialog program, clicks and screenshots. The program
  # reaches the session bus through libsystemd.
  "libsystemd0:"
  "xfce4-panel: xfce4-panel"
  "xfce4-notifyd: /usr/lib/x86_64-linux-gnu/xfce4/notifyd/xfce4-notifyd"
  "zenity: zenity"
  "xdotool: xdotool"
  "imagemagick: import convert"
  "qemu-system-x86: qemu-system-x86_64"
  "busybox-static: /bin/busybox"
  "cpio: cpio"
  "kmod: depmod modprobe"
  "binutils: strip"
  # The Debian package: CPack's DEB generator finds the programs with file and their
  # libraries with dpkg-shlibdeps; lintian checks it; the install test makes a root.
  "dpkg-dev: dpkg-shlibdeps"
  "file: file"
  "lintian: lintian"
  "debootstrap: debootstrap"
  "tar: tar"
  # Part of every Debian system; listed so that the check knows every command.
  "bash: bash"
  "dash: sh"
  "coreutils: basename cat chmod chroot cp dirname env head id install ln ls mkdir mkfifo mktemp
    mv od readlink realpath rm rmdir seq sleep sort tail tee test timeout tr wc"
  "findutils: find xargs"
  "grep: grep"
  "sed: sed"
  "mawk: awk"
  "hostname: hostname"
  "libc-bin: getconf ldd"
  "apt: apt-get"
  "dpkg: dpkg dpkg-deb dpkg-query"
  "gzip: gzip"
  "diffutils: cmp"
)

package_of() {
  echo "${1%%:*}"
}

commands_of() {
  echo "${1#*:}"
}

check_commands() {
  local entry command missing=()
  for entry in "${requirements[@]}"; do
    for command in $(commands_of "$entry"); do
      if [[ $command == /* ]]; then
        [[ -x $command ]] && continue
      else
        command -v "$command" >/dev/null 2>&1 && continue
      fi
      missing+=("$command (package $(package_of "$entry"))")
    done
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: these commands are missing; install their packages (bash scripts/setup.sh):" >&2
    printf '  %s\n' "${missing[@]}" >&2
    return 1
  fi
}

readonly service_policy=/usr/sbin/policy-rc.d

install_missing_packages() {
  local entry package missing=()
  for entry in "${requirements[@]}"; do
    package=$(package_of "$entry")
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -gt 0 ] || return 0

  echo "setup: installing ${missing[*]}"
  # Installed services must not start on their own: an avahi-daemon started by the package
  # would announce on the machine's real interfaces. The tests start their own, confined.
  if [ ! -e "$service_policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$service_policy"
    chmod +x "$service_policy"
    trap 'rm -f "$service_policy"' EXIT
  fi
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

case ${1:-} in
  --check) check_commands ;;
  "") install_missing_packages ;;
  *)
    echo "usage: $0 [--check]" >&2
    exit 2
    ;;
esac
