# Sourced by the test scripts: a Wine prefix of our own with no crash dialog, no Mono or
# Gecko installs, and an X server for windows, message boxes, SendInput and tray icons.
# Wine's loader and server are called by their paths in Debian's wine64 package: the
# commands wine, winepath and wineserver come with the separate "wine" package.
export WINEPREFIX=${WINEPREFIX:-/tmp/pellvane-wine}
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=${WINEDEBUG:--all}
export WINE=${WINE:-/usr/lib/wine/wine64}
export WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}

# The Xvfb that pellvane_start_xvfb started, if it started one.
PELLVANE_XVFB_PID=""

# Uses the X server that DISPLAY names if it answers; otherwise starts an Xvfb, on the
# display that DISPLAY names (":111") or else on the first free one, and exports DISPLAY.
pellvane_start_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  local requested="" numbers
  case ${DISPLAY:-} in
    :[0-9]*) requested=${DISPLAY%%.*} ;;
  esac
  numbers=$(mktemp) || return 1
  # -displayfd writes the display number once the server accepts connections.
  # shellcheck disable=SC2086
  Xvfb $requested -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$numbers" \
    </dev/null >/dev/null 2>&1 &
  PELLVANE_XVFB_PID=$!
  for _ in $(seq 100); do
    grep -q '^[0-9]' "$numbers" && break
    kill -0 "$PELLVANE_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  if ! grep -q '^[0-9]' "$numbers"; then
    rm -f "$numbers"
    echo "wine-env: Xvfb did not start${requested:+ on $requested}" >&2
    pellvane_stop_xvfb
    return 1
  fi
  export DISPLAY=":$(head -n 1 "$numbers")"
  rm -f "$numbers"
}

# Stops the Xvfb that pellvane_start_xvfb started; one that was running already stays.
pellvane_stop_xvfb() {
  [ -n "$PELLVANE_XVFB_PID" ] || return 0
  kill -TERM "$PELLVANE_XVFB_PID" 2>/dev/null
  wait "$PELLVANE_XVFB_PID" 2>/dev/null
  PELLVANE_XVFB_PID=""
}

pellvane_prepare_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating the prefix $WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
      >/dev/null 2>&1 || true
    "$WINESERVER" -w || true
  fi
}

# Ends every Wine process of the prefix and its wineserver, and waits until they are gone.
pellvane_stop_wine() {
  "$WINESERVER" -k >/dev/null 2>&1
  "$WINESERVER" -w >/dev/null 2>&1
  return 0
}
