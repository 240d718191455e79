#!/bin/busybox sh
# The /init of the real-kernel test's VM (run_vm_test.sh packs it with busybox, the modules
# and the programs). It loads the modules, starts pellvane-vpad and pellvane-server (with
# the test DNS-SD library), lets a pad type and play over loopback, reads the events of the
# virtual keyboard and of the game controller from their evdev nodes, and ends the VM with
# "PELLVANE-VM: PASS" or "PELLVANE-VM: FAIL <why>" on the console.

/bin/busybox mkdir -p /proc /sys /dev /tmp
/bin/busybox mount -t devtmpfs devtmpfs /dev
# The image has no /dev/console of its own, so the kernel started us without output.
exec </dev/console >/dev/console 2>&1
/bin/busybox --install -s /bin
export PATH=/bin:/opt/pellvane/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t tmpfs tmpfs /tmp

finish() {
    echo "PELLVANE-VM: $*"
    sync
    poweroff -f
}

fail() {
    for file in /tmp/*.out /tmp/*.err /tmp/*.events /tmp/*.log; do
        [ -f "$file" ] || continue
        echo "---- $file"
        cat "$file"
    done
    finish "FAIL $*"
}

# wait_for SECONDS COMMAND...: polls until the command succeeds.
wait_for() {
    deadline=$(($(date +%s) + $1))
    shift
    until "$@"; do
        [ "$(date +%s)" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# The events of one type in an evdev dump, as one line: "TYPE CODE VALUE|...".
events_of_type() {
    grep "^$2 " "$1" | tr '\n' '|'
}

shows_events() {
    [ "$(events_of_type "$1" "$2")" = "$3" ]
}

# The key's release followed by the SYN_REPORT that the program sends: the kernel's own
# release of keys left down on a device that goes away ends with value 1 instead.
released_by_program() {
    awk -v key="1 $2 0" 'previous == key && $0 == "0 0 0" { found = 1 } { previous = $0 }
        END { exit !found }' "$1"
}

# An ended child stays a zombie until it is waited for.
gone() {
    ! kill -0 "$1" 2>/dev/null || [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" = Z ]
}

for module in $(cat /lib/modules/modules.load); do
    insmod "/lib/modules/$module" || fail "insmod $module"
done
ip link set lo up || fail "no loopback"
cd /tmp || fail "no /tmp"
export LD_LIBRARY_PATH=/opt/pellvane/lib

echo "---- the virtual controller"
pellvane-vpad --debug >vpad.out 2>vpad.err &
vpad=$!
wait_for 20 grep -qs present vpad.out || fail "pellvane-vpad did not start"
wait_for 20 test -e /dev/hidraw0 || fail "no hidraw node for the virtual controller"
vm-evdev-watch "Pellvane Virtual Controller" >controller.events 2>controller.watch.log &
wait_for 20 grep -qs watching controller.watch.log || fail "no evdev node for the game controller"

echo "---- the server"
mkfifo server.in
exec 3<>server.in
PELLVANE_FAKE_DNSSD_LOG=/tmp/dnssd.log pellvane-server --debug <&3 >server.out 2>server.err &
server=$!
wait_for 30 grep -qs ' _kesp._tcp ' dnssd.log || fail "the pad service was not registered"
port=$(awk '$2 == "_kesp._tcp" { port = $4 } END { print port }' dnssd.log)
vm-evdev-watch "Pellvane Virtual Keyboard" >keyboard.events 2>keyboard.watch.log &
wait_for 20 grep -qs watching keyboard.watch.log || fail "no evdev node for the virtual keyboard"
grep -qs "Success: Found my device" server.out || fail "the server did not find the hidraw node"
rest="7F 7F 7F 7F 7F 7F 7F 7F 7F 7F 7F 7F 7F 7F 08 00 00"
wait_for 10 grep -qs "state $rest" vpad.err || fail "the rest report did not reach pellvane-vpad"

echo "---- a pad on port $port"
vm-pad "$port" down=A up=A 'down=#123' 'up=#123' axis=0:1.0 axis=0:0.0 button=3:1 button=3:0 \
    down=b >pad.out 2>pad.err &
pad=$!
wait_for 20 grep -qs "VM pad requested to connect" server.err || fail "no admission question"
echo y >&3
wait "$pad" || fail "the pad was not admitted or could not send"

# Shift and A, Left (E0 4B), then b, held down until the pad goes: the program lets go of it.
keys="1 42 1|1 30 1|1 42 0|1 30 0|1 105 1|1 105 0|1 48 1|1 48 0|"
wait_for 20 shows_events keyboard.events 1 "$keys" || fail "keyboard events: $(events_of_type keyboard.events 1)"
# ABS_X at 255 and 0, then back at rest (127) when the last pad has gone; BTN_NORTH down and up.
wait_for 20 shows_events controller.events 3 "3 0 255|3 0 0|3 0 127|" ||
    fail "controller axes: $(events_of_type controller.events 3)"
wait_for 20 shows_events controller.events 1 "1 307 1|1 307 0|" ||
    fail "controller buttons: $(events_of_type controller.events 1)"

echo "---- shutdown"
kill -TERM "$server"
wait_for 20 gone "$server" || fail "the server did not end on SIGTERM"
wait "$server" || fail "the server ended with an error"
wait_for 10 released_by_program keyboard.events 48 || fail "the held key was not released"
kill -TERM "$vpad"
wait_for 10 gone "$vpad" || fail "pellvane-vpad did not end on SIGTERM"
wait "$vpad" || fail "pellvane-vpad ended with an error"
wait_for 10 test ! -e /dev/hidraw0 || fail "the hidraw node stayed after pellvane-vpad ended"

finish PASS
