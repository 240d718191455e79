#!/bin/bash
# The program's life as a user meets it: both services announced with the port shown on the
# terminal, the controller notice once with its marker file, a second copy refused while the
# first runs on, SIGTERM and SIGINT ending it with exit code 0 and withdrawing the services,
# and the marker removed once a controller appears (and made again when it is lost); in a
# read-only working directory the notice is never shown.
set -u
source "$(dirname "$(readlink -f "$0")")/e2e_common.sh"

readonly notice='Pellvane Server: The Quib Controller virtual device was not found.'
readonly marker_file=quibdeverr.ini

notice_count() {
    grep -cF "$notice" "$e2e_work/$1.err"
}

withdrawn() {
    [[ -z $(e2e_browse "$1" | awk -v address="$server_ipv4" '$1 == address') ]]
}

e2e_step "options"
"$e2e_server_program" --help >"$e2e_work/help.out" 2>&1 || e2e_fail "--help did not exit 0"
grep -q SIGHUP "$e2e_work/help.out" || e2e_fail "--help does not mention SIGHUP"
"$e2e_server_program" --port 1 >/dev/null 2>"$e2e_work/bad-option.err"
status=$?
[[ $status -eq 2 ]] || e2e_fail "an unknown option gave exit code $status, not 2"
grep -q "unknown option '--port'" "$e2e_work/bad-option.err" || e2e_fail "unclear message for a bad option"

e2e_setup_network
readonly marker="$e2e_work/cwd/$marker_file"

e2e_step "first start without a controller"
e2e_start_server first
channel_port=$(e2e_shown_channel_port first)
found=$(e2e_found_port _kespchan._tcp) || e2e_fail "the channel service is not announced"
[[ $found == "$channel_port" ]] || e2e_fail "channel service announced on $found, the terminal shows $channel_port"
pad_port=$(e2e_found_port _kesp._tcp) || e2e_fail "the pad service is not announced"
[[ $pad_port != "$channel_port" ]] || e2e_fail "both services on one port"
echo "pad service on $pad_port, channel service on $channel_port"
[[ -f $marker && ! -s $marker ]] || e2e_fail "no empty $marker_file after the first start"
[[ $(notice_count first) -eq 1 ]] || e2e_fail "the controller notice did not appear exactly once"
grep -q '^Controller NOT OPENED!$' "$e2e_work/first.err" || e2e_fail "no controller trace with --debug"

e2e_step "a second copy is refused"
(
    cd "$e2e_work/cwd" &&
        pv_netns_exec server env -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
            XDG_RUNTIME_DIR="$e2e_work/runtime" timeout 10 \
            "$e2e_server_program" </dev/null >"$e2e_work/second.out" 2>"$e2e_work/second.err"
)
status=$?
[[ $status -eq 0 ]] || e2e_fail "the second copy exited with $status"
[[ $(cat "$e2e_work/second.err") == "Pellvane Server: An instance of Pellvane Server is already running." ]] ||
    e2e_fail "the second copy said: $(cat "$e2e_work/second.err")"
[[ ! -s $e2e_work/second.out ]] || e2e_fail "the second copy showed a port"
kill -0 "$e2e_server_pid" || e2e_fail "the first copy ended"
[[ $(e2e_found_port _kespchan._tcp) == "$channel_port" ]] || e2e_fail "the first copy's channel service is gone"
[[ $(notice_count first) -eq 1 ]] || e2e_fail "the notice appeared again"

e2e_step "SIGTERM quits"
e2e_stop_server TERM 10
[[ $e2e_server_status -eq 0 ]] || e2e_fail "SIGTERM ended the program with $e2e_server_status"
e2e_wait 20 withdrawn _kesp._tcp || e2e_fail "the pad service is still announced"
e2e_wait 20 withdrawn _kespchan._tcp || e2e_fail "the channel service is still announced"

e2e_step "a later start without a controller stays quiet"
e2e_start_server again
[[ $(notice_count again) -eq 0 ]] || e2e_fail "the notice appeared although the marker was there"
grep -q '^Controller NOT OPENED!$' "$e2e_work/again.err" || e2e_fail "no controller trace"
[[ -f $marker ]] || e2e_fail "the marker went away"
e2e_stop_server INT 10
[[ $e2e_server_status -eq 0 ]] || e2e_fail "SIGINT ended the program with $e2e_server_status"

e2e_step "a controller appears: the marker goes"
bash "$e2e_here/../../controller/make-fake-hid-tree.sh" "$e2e_work/hid" >/dev/null ||
    e2e_fail "cannot make the device tree"
e2e_start_server found PELLVANE_SYSFS_ROOT="$e2e_work/hid/sys" PELLVANE_DEV_ROOT="$e2e_work/hid/dev"
[[ ! -e $marker ]] || e2e_fail "the marker is still there with a controller present"
grep -q '^QuibController Opened!$' "$e2e_work/found.err" || e2e_fail "the controller was not opened"
[[ $(notice_count found) -eq 0 ]] || e2e_fail "a notice with the controller present"
# The first report puts the controller at rest.
expected_report="401202$(printf '7f%.0s' {1..14})080000"
report=$(head -c 20 "$e2e_work/hid/dev/hidraw0" | od -An -tx1 -v | tr -d ' \n')
[[ $report == "$expected_report" ]] || e2e_fail "first report $report, expected $expected_report"
e2e_stop_server TERM 10
[[ $e2e_server_status -eq 0 ]] || e2e_fail "SIGTERM ended the program with $e2e_server_status"

e2e_step "the controller is lost again: told again"
e2e_start_server lost
[[ $(notice_count lost) -eq 1 ]] || e2e_fail "the notice did not come back"
[[ -f $marker ]] || e2e_fail "no marker after the new loss"
e2e_stop_server TERM 10
[[ $e2e_server_status -eq 0 ]] || e2e_fail "SIGTERM ended the program with $e2e_server_status"

e2e_step "a read-only working directory: no notice, since it could not be remembered"
mkdir -p "$e2e_work/read-only"
# Read-only for the server's namespace only, where even root cannot write to it.
pv_netns_exec server mount -t tmpfs -o ro pellvane-read-only "$e2e_work/read-only" ||
    e2e_fail "cannot mount the read-only folder"
e2e_server_cwd="$e2e_work/read-only"
e2e_start_server read-only
[[ $(notice_count read-only) -eq 0 ]] || e2e_fail "a notice that could not be remembered"
grep -q '^Controller NOT OPENED!$' "$e2e_work/read-only.err" || e2e_fail "no controller trace"
e2e_stop_server TERM 10
[[ $e2e_server_status -eq 0 ]] || e2e_fail "SIGTERM ended the program with $e2e_server_status"
echo "PASS"
