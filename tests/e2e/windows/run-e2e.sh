#!/usr/bin/env bash
# Runs one Windows end-to-end case: an X server and the Wine prefix first (both shared with
# the other Windows tests), then the driver. An Xvfb started here is stopped at the end.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../../scripts/wine-env.sh"
# Wine's desktop lives on the display, so it goes first when the display goes.
stop_what_was_started() {
  if [ -n "$PELLVANE_XVFB_PID" ]; then
    pellvane_stop_wine
    pellvane_stop_xvfb
  fi
}
trap stop_what_was_started EXIT
pellvane_start_xvfb || exit 1
pellvane_prepare_wine_prefix
PYTHONDONTWRITEBYTECODE=1 python3 "$here/wine_e2e.py" "$@"
