#!/usr/bin/env bash
# Runs one Windows end-to-end case, or with "installer" the installer's test: an X server and
# the Wine prefix first (both shared with the other Windows tests), then the driver. An Xvfb
# started here is stopped at the end.
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
driver=wine_e2e.py
if [ "${1:-}" = installer ]; then
  driver=installer_e2e.py
  shift
fi
PYTHONDONTWRITEBYTECODE=1 python3 "$here/$driver" "$@"
