#!/usr/bin/env bash
# Sets up, builds and starts Pellvane Server (build/linux/pellvane-server) in the foreground;
# its arguments are passed on (--debug, --help). The client tool build/linux/pellvane-pad is
# built beside it, for trying the server from another terminal, and so is pellvane-vpad.
#
# The program announces itself through avahi-daemon. Where the machine's own avahi-daemon
# runs, that one is used. Where none answers, this script starts a D-Bus system bus (if none
# runs either) and an avahi-daemon of its own that publishes on the loopback interface only,
# so that nothing leaves the machine, and stops them again when the server ends.
#
# The virtual game controller: the program itself starts pellvane-vpad (beside it) when
# /dev/uhid and /dev/uinput can be opened and no virtual controller is present, and stops it
# when it ends. As root the script first installs the udev rule
# (scripts/udev/70-pellvane.rules) and loads the uhid and uinput modules, so that it can.
#
# PELLVANE_SERVER=<path> runs that program instead of building (an ASan build, say);
# PELLVANE_VPAD=<path> makes the program start that pellvane-vpad.
set -euo pipefail
cd "$(dirname "$0")/.."

say() {
    echo "run-server: $*" >&2
}

avahi_answers() {
    avahi-daemon --check 2>/dev/null && return 0
    command -v dbus-send >/dev/null &&
        dbus-send --system --print-reply --dest=org.freedesktop.Avahi / \
            org.freedesktop.Avahi.Server.GetVersionString >/dev/null 2>&1
}

system_bus_answers() {
    dbus-send --system --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetId >/dev/null 2>&1
}

# wait_until SECONDS COMMAND...
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

if [[ -n ${PELLVANE_SERVER:-} ]]; then
    server=$PELLVANE_SERVER
else
    bash scripts/setup.sh
    cmake --preset linux >/dev/null
    cmake --build build/linux -j2 --target pellvane-server pellvane-pad pellvane-vpad
    server=build/linux/pellvane-server
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/pellvane-run.XXXXXX")
dbus_pid=""
avahi_pid=""
server_pid=""
lo_multicast_was_off=""

clean_up() {
    local pid
    for pid in "$server_pid" "$avahi_pid" "$dbus_pid"; do
        [[ -n $pid ]] || continue
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if [[ -n $lo_multicast_was_off ]]; then
        ip link set lo multicast off 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap clean_up EXIT

install_udev_rule() {
    local rule=scripts/udev/70-pellvane.rules target=/etc/udev/rules.d/70-pellvane.rules
    command -v udevadm >/dev/null || return 0  # no udev on this machine
    cmp -s "$rule" "$target" && return 0
    mkdir -p /etc/udev/rules.d && install -m 644 "$rule" "$target" || return 0
    say "installed the udev rule $target"
    udevadm control --reload 2>/dev/null &&
        udevadm trigger --subsystem-match=misc --subsystem-match=hidraw 2>/dev/null || true
}

# What the program needs to start pellvane-vpad: the rights on /dev/uhid and /dev/uinput,
# and the modules behind them.
prepare_controller_devices() {
    if [[ $(id -u) -eq 0 && -z ${PELLVANE_DEV_ROOT:-} ]]; then
        install_udev_rule
        modprobe -a uhid uinput 2>/dev/null || true
    fi
}

# In the background so that what the script started can be stopped afterwards; standard
# input stays the terminal's, which the admission question reads. A quit from the terminal
# reaches the server as SIGTERM (a background job of a script ignores SIGINT), a hangup as
# itself.
run_server() {
    "$server" "$@" <&0 &
    server_pid=$!
    trap 'kill -TERM "$server_pid" 2>/dev/null || true' INT TERM
    trap 'kill -HUP "$server_pid" 2>/dev/null || true' HUP
    local status=0 last
    while :; do
        wait "$server_pid" && status=0 || status=$?
        # wait returns early (above 128) when a trapped signal arrives; the server goes on.
        kill -0 "$server_pid" 2>/dev/null || break
    done
    # If the server ended while a signal cut the wait short, its exit status is still kept
    # for one more wait (127 once it has been collected already).
    wait "$server_pid" 2>/dev/null && status=0 || {
        last=$?
        ((last == 127)) || status=$last
    }
    server_pid=""
    exit "$status"
}

own_avahi=""
if ! avahi_answers; then
    if [[ $(id -u) -ne 0 ]]; then
        say "no avahi-daemon answers on this machine, and only root can start one."
        say "Start the system's (for example: sudo systemctl start avahi-daemon) or run this script as root."
        exit 1
    fi
    own_avahi=yes
fi

prepare_controller_devices

if [[ -z $own_avahi ]]; then
    rm -rf "$work"
    trap - EXIT
    exec "$server" "$@"
fi

say "no avahi-daemon answers on this machine: starting one of our own that publishes on the"
say "loopback interface only (pads on this computer only); it stops when the server ends."

if ! system_bus_answers; then
    say "starting a D-Bus system bus for it"
    mkdir -p /run/dbus
    dbus-daemon --system --nofork --nopidfile --nosyslog >"$work/dbus.log" 2>&1 &
    dbus_pid=$!
    wait_until 10 system_bus_answers || { cat "$work/dbus.log" >&2; say "D-Bus did not start"; exit 1; }
fi

# avahi-daemon takes only interfaces that do multicast.
if ! ip link show lo | grep -q MULTICAST; then
    ip link set lo multicast on
    lo_multicast_was_off=yes
fi
cat >"$work/avahi-daemon.conf" <<'CONF'
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
[reflector]
enable-reflector=no
[rlimits]
CONF
avahi-daemon -f "$work/avahi-daemon.conf" --no-chroot --no-proc-title >"$work/avahi.log" 2>&1 &
avahi_pid=$!
if ! wait_until 20 grep -qs "Server startup complete" "$work/avahi.log"; then
    cat "$work/avahi.log" >&2
    say "avahi-daemon did not start"
    exit 1
fi

run_server "$@"
