# Sourced by the test scripts: a Wine prefix of our own with no crash dialog, no Mono or
# Gecko installs, and an X server for windows, message boxes, SendInput and tray icons.
# Wine's loader and server are called by their paths in Debian's wine64 package: the
# commands wine, winepath and wineserver come with the separate "wine" package.
export WINEPREFIX=${WINEPREFIX:-/tmp/pellvane-wine}
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=${WINEDEBUG:--all}
export WINE=${WINE:-/usr/lib/wine/wine64}
export WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}

pellvane_start_xvfb() {
  if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    export DISPLAY=:99
    if ! xdpyinfo >/dev/null 2>&1; then
      Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    fi
  fi
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
