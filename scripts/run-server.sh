#!/usr/bin/env bash
# Sets up, builds and starts Pellvane Server in the foreground on this Linux machine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build build/linux -j2
if [ ! -x build/linux/pellvane-server ]; then
  echo "run-server: everything is built; the program itself is not part of this tree yet." >&2
  exit 0
fi
exec build/linux/pellvane-server "$@"
