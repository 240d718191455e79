#!/usr/bin/env bash
# Installs what building, running and testing Pellvane Server needs on Debian 12.
# Only missing packages are installed; run as root (or through sudo).
set -euo pipefail

packages=(
  cmake ninja-build g++ clang-14 libclang-rt-14-dev googletest libgtest-dev libgmock-dev
  g++-mingw-w64-x86-64 wine64 xvfb x11-utils xdotool
  dbus avahi-daemon avahi-utils libavahi-compat-libdnssd1 iproute2 util-linux procps python3
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  # Installed services must not start on their own: an avahi-daemon started by the package
  # would announce on the machine's real interfaces. The tests start their own, confined.
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' > "$policy"
    chmod +x "$policy"
    trap 'rm -f "$policy"' EXIT
  fi
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
