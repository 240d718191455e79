#!/usr/bin/env bash
# Runs one Windows end-to-end case: an X server and the Wine prefix first (both shared with
# the other Windows tests), then the driver.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../../scripts/wine-env.sh"
pellvane_start_xvfb
pellvane_prepare_wine_prefix
PYTHONDONTWRITEBYTECODE=1 exec python3 "$here/wine_e2e.py" "$@"
