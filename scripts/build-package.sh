#!/usr/bin/env bash
# Builds the Debian package build/linux-release/pellvane-server_<version>-1_amd64.deb from
# the linux-release preset (a release build with Debian's hardening flags and the prefix
# /usr, without tests and benchmarks) and checks it with lintian where lintian is installed:
# an error or warning fails the build, except those that the README justifies.
#
#   bash scripts/build-package.sh     prints the package's path on standard output
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset linux-release >/dev/null
cmake --build build/linux-release -j2 --target package >&2
package=$(ls build/linux-release/pellvane-server_*-1_amd64.deb)

if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$package" >&2
else
  echo "build-package: lintian is not installed; the package was not checked" >&2
fi
echo "$PWD/$package"
