#!/usr/bin/env bash
# Events per second through the running program (bench/event_rate_bench.cpp prints the
# tables): the built program is started as a process with the test DNS-SD library, pads on
# loopback are admitted, and events are sent at steady rates.
#
#   bench/event_rate_bench.sh linux [BUILD_DIR]     build/linux/pellvane-server with a
#       virtual controller made of plain files: reports in its device file are counted, then
#       (second table set) relayed channel events, as the Windows run counts them
#   bench/event_rate_bench.sh windows [BUILD_DIR]   build/windows/pellvane-server.exe under
#       Wine with the test dnssd.dll; Wine has no controller driver, so relayed channel
#       events are counted; the admission boxes are answered by pellvane-e2e-helper.exe
#
# PELLVANE_SERVER=FILE runs another build of the program (an older one, for a before and
# after). The pad driver is always the Linux build's bench/event_rate_bench;
# PELLVANE_BENCH_ARGS passes it more options (--up-to 512000 looks for the ceiling).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
system=${1:-linux}
case $system in
  linux) build=${2:-$root/build/linux} ;;
  windows) build=${2:-$root/build/windows} ;;
  *) echo "usage: $0 linux|windows [BUILD_DIR]" >&2; exit 2 ;;
esac
driver=${PELLVANE_BENCH_DRIVER:-$root/build/linux/bench/event_rate_bench}
read -r -a extra <<<"${PELLVANE_BENCH_ARGS:-}"
[ -x "$driver" ] || { echo "event_rate_bench: $driver is missing; build the linux preset" >&2; exit 1; }

work=$(mktemp -d)
pid=""
helper_pid=""
cleanup() {
  [ -n "$helper_pid" ] && kill "$helper_pid" 2>/dev/null || true
  [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  if [ "$system" = windows ]; then
    "$WINESERVER" -k 2>/dev/null || true
    pellvane_stop_xvfb
  fi
  exec 3>&- 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The port of the last registration of a service type in the test DNS-SD library's log.
port_of() {
  awk -v type="$1" '$2 == type { port = $4 } END { print port }' "$work/dnssd.log" 2>/dev/null
}

# Answers yes to each admission question once it is shown: the program counts only answers
# typed after its question.
answer_every_question() {
  local answered=0 asked
  while kill -0 "$pid" 2>/dev/null; do
    asked=$({ grep -o 'requested to connect, accept connection?' "$work/server.err" || true; } | wc -l)
    while [ "$answered" -lt "$asked" ]; do
      echo y >&3
      answered=$((answered + 1))
    done
    sleep 0.05
  done
}

wait_for_services() {
  for _ in $(seq 300); do
    [ -n "$(port_of _kesp._tcp)" ] && [ -n "$(port_of _kespchan._tcp)" ] && return 0
    sleep 0.1
  done
  echo "event_rate_bench: the program did not register both services" >&2
  cat "$work"/*.err >&2 2>/dev/null || true
  return 1
}

echo "machine load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$system" = linux ]; then
  server=$(realpath "${PELLVANE_SERVER:-$build/pellvane-server}")
  ln -s "$(realpath "$build/tests/bin/libfake_dnssd.so")" "$work/libdns_sd.so.1"
  eval "$(bash "$root/tests/controller/make-fake-hid-tree.sh" "$work/hid")"
  mkfifo "$work/input"
  (cd "$work" && LD_LIBRARY_PATH="$work" XDG_RUNTIME_DIR="$work" \
    PELLVANE_FAKE_DNSSD_LOG="$work/dnssd.log" exec "$server" <"$work/input" \
    >"$work/server.out" 2>"$work/server.err") &
  pid=$!
  exec 3>"$work/input"
  answer_every_question &
  helper_pid=$!
  wait_for_services
  "$driver" --pad-port "$(port_of _kesp._tcp)" --count hidraw "$PELLVANE_DEV_ROOT/hidraw0" \
    "${extra[@]}"
  "$driver" --pad-port "$(port_of _kesp._tcp)" --channel-port "$(port_of _kespchan._tcp)" \
    --count relay --name "Relay pad" "${extra[@]}"
else
  source "$root/scripts/wine-env.sh"
  export WINEPREFIX=${WINEPREFIX:-/tmp/pellvane-wine}
  pellvane_start_xvfb
  pellvane_prepare_wine_prefix
  server=$(realpath "${PELLVANE_SERVER:-$build/pellvane-server.exe}")
  cp "$server" "$work/pellvane-server.exe"
  cp "$build/tests/bin/dnssd.dll" "$work/dnssd.dll"
  : > "$work/quibdeverr.ini"  # the controller notice was given before: no box for it
  (cd "$work" && PELLVANE_FAKE_DNSSD_LOG="Z:${work//\//\\}\\dnssd.log" WINEDEBUG=-all \
    exec "$WINE" "$work/pellvane-server.exe" >"$work/server.out" 2>"$work/server.err") &
  pid=$!
  wait_for_services
  "$WINE" "$build/tests/bin/pellvane-e2e-helper.exe" answer-box "Pellvane Server" \
    "Relay pad 0 requested to connect, accept connection?" ok 120000 >/dev/null 2>&1 &
  helper_pid=$!
  "$driver" --pad-port "$(port_of _kesp._tcp)" --channel-port "$(port_of _kespchan._tcp)" \
    --count relay --name "Relay pad" "${extra[@]}"
fi
echo "machine load after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
