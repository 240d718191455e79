#!/bin/bash
# The run command of the README (scripts/run-server.sh, here with PELLVANE_SERVER naming the
# built program): with no avahi-daemon on the machine it starts D-Bus and an avahi-daemon of
# its own on loopback only, says so, announces the services there, and at the end stops all
# it started and switches loopback multicast off again; where an avahi-daemon runs, it just
# runs the program with that one. Where the device files of uhid and uinput can be opened,
# the program starts pellvane-vpad first (here a stand-in that presents a controller's sysfs
# entry), waits for the controller and stops it when it ends.
set -u
source "$(dirname "$(readlink -f "$0")")/e2e_common.sh"
readonly run_script=$(readlink -f "$e2e_here/../../../scripts/run-server.sh")

# start_script NAMESPACE NAME [VAR=VALUE...]: the script in the background, as a user would
# start it.
start_script() {
    local ns=$1 name=$2
    shift 2
    mkfifo "$e2e_work/$name.in"
    exec {e2e_server_feed}<>"$e2e_work/$name.in"
    (
        cd "$e2e_work/cwd" || exit 1
        e2e_exec "$ns" env PELLVANE_SERVER="$e2e_server_program" XDG_RUNTIME_DIR="$e2e_work/runtime" \
            PELLVANE_SYSFS_ROOT="$e2e_work/no-hid/sys" PELLVANE_DEV_ROOT="$e2e_work/no-hid/dev" \
            "${e2e_sanitizer_env[@]}" "$@" bash "$run_script" \
            <"$e2e_work/$name.in" >"$e2e_work/$name.out" 2>"$e2e_work/$name.err"
    ) &
    e2e_server_pid=$!
    PV_NETNS_CHILDREN+=("$e2e_server_pid")
    e2e_wait 30 grep -q '^Channel server port: [1-9]' "$e2e_work/$name.out" ||
        e2e_fail "$name: the program did not show its channel port"
}

browse_in() {
    pv_netns_exec "$1" avahi-browse --resolve --parsable --terminate "$2" 2>/dev/null |
        awk -F';' -v type="$2" '$1 == "=" && $3 == "IPv4" && $5 == type { print $8, $9 }'
}

announced_on_loopback() {
    browse_in bare _kesp._tcp | grep -q '^127\.0\.0\.1 [1-9]' &&
        browse_in bare _kespchan._tcp | grep -q "^127\.0\.0\.1 $1\$"
}

only_the_anchor_left() {
    [[ $(ip netns pids "$(pv_netns_name bare)" | wc -l) -eq 1 ]]
}

e2e_setup_network

e2e_step "no avahi-daemon: one of our own on loopback"
pv_netns_create bare || exit 1
ip -n "$(pv_netns_name bare)" link show lo | grep -q MULTICAST && e2e_fail "loopback multicast is on already"
start_script bare own
grep -q 'starting one of our own that publishes on the' "$e2e_work/own.err" || e2e_fail "the script did not say what it started"
channel_port=$(e2e_shown_channel_port own)
e2e_wait 20 announced_on_loopback "$channel_port" || e2e_fail "the services are not announced on loopback"
ip -n "$(pv_netns_name bare)" link show lo | grep -q MULTICAST || e2e_fail "loopback multicast is off"
e2e_stop_server TERM 15
[[ $e2e_server_status -eq 0 ]] || e2e_fail "the script ended with $e2e_server_status"
e2e_wait 10 only_the_anchor_left || e2e_fail "processes are left: $(ip netns pids "$(pv_netns_name bare)")"
! ip -n "$(pv_netns_name bare)" link show lo | grep -q MULTICAST || e2e_fail "loopback multicast stays on"

e2e_step "an avahi-daemon runs: it is used"
start_script server shared
! grep -q 'starting one of our own' "$e2e_work/shared.err" || e2e_fail "the script started its own avahi-daemon"
# The script became the program.
[[ $(readlink -f "/proc/$e2e_server_pid/exe") == "$e2e_server_program" ]] || e2e_fail "the script did not hand over to the program"
found=$(e2e_found_port _kespchan._tcp) || e2e_fail "the channel service is not announced"
[[ $found == "$(e2e_shown_channel_port shared)" ]] || e2e_fail "announced on $found"
e2e_stop_server TERM 10
[[ $e2e_server_status -eq 0 ]] || e2e_fail "the program ended with $e2e_server_status"

e2e_step "the device files can be opened: the program starts pellvane-vpad first and stops it"
devices=$e2e_work/devices
mkdir -p "$devices/sys/class/hidraw" "$devices/dev"
touch "$devices/dev/uhid" "$devices/dev/uinput"
cat >"$e2e_work/fake-vpad.sh" <<'VPAD'
#!/bin/bash
# Presents the controller's hidraw entry a moment after it starts, takes it away on SIGTERM.
entry=$PELLVANE_SYSFS_ROOT/class/hidraw/hidraw0
trap 'rm -rf "$entry"; echo stopped >"$PELLVANE_SYSFS_ROOT/../vpad.state"; exit 0' TERM
sleep 0.5
mkdir -p "$entry/device"
echo "HID_ID=0006:000000FF:0000BACC" >"$entry/device/uevent"
echo present >"$PELLVANE_SYSFS_ROOT/../vpad.state"
while :; do sleep 0.1; done
VPAD
chmod +x "$e2e_work/fake-vpad.sh"
start_script server with-vpad PELLVANE_VPAD="$e2e_work/fake-vpad.sh" \
    PELLVANE_SYSFS_ROOT="$devices/sys" PELLVANE_DEV_ROOT="$devices/dev"
[[ $(cat "$devices/vpad.state") == present ]] || e2e_fail "the program started before the controller was present"
! grep -q 'no virtual game controller' "$e2e_work/with-vpad.err" || e2e_fail "the program did not start pellvane-vpad"
e2e_stop_server TERM 10
[[ $e2e_server_status -eq 0 ]] || e2e_fail "the script ended with $e2e_server_status"
e2e_wait 5 grep -q stopped "$devices/vpad.state" || e2e_fail "pellvane-vpad was not stopped"
echo "PASS"
