#!/bin/bash
# The application in front on an X display, and keys refused while a pad wants another one:
# the server's computer has an Xvfb with one window, stamped with the process id of a running
# sleep and made active on the root as a window manager would. An admitted pad hears "sleep"
# in an AppName within a monitor period or two; while a pad wants another application, a
# typed key gives the program's beep and nothing typed; once a pad wants "sleep" or
# "<generic>", keys come out again.
set -u
source "$(dirname "$(readlink -f "$0")")/e2e_common.sh"
[[ -n $e2e_pad_tool ]] || e2e_fail "no pad tool given"
for tool in Xvfb xev xwininfo xprop; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: no $tool"
        exit 77
    fi
done

readonly beep="Beep 450 100"

# typed_lines_are LINES: standard output holds exactly these typed lines and beeps.
typed_lines_are() {
    [[ $(e2e_input_lines) == "$1" ]]
}

received_count() {
    grep -cxF "Received wanted appplication: $1" "$e2e_work/server.err"
}

received_more() {
    (($(received_count "$1") > $2))
}

# want NAME APP: a pad names its wanted application and the program has taken it.
want() {
    local count
    count=$(received_count "$2")
    e2e_admitted_tool "$1" want "$server_ipv4" "$pad_port" "$2"
    e2e_wait 10 received_more "$2" "$count" || e2e_fail "the wanted application $2 did not arrive"
}

# on_display COMMAND...: an X client in the server's namespace, on the test's display.
on_display() {
    pv_netns_exec server env DISPLAY="$display" "$@"
}

e2e_setup_network

e2e_step "a display with a window of a sleeping process in front"
# Xvfb picks a free display number and writes it once it accepts connections.
pv_netns_spawn server "$e2e_work/xvfb.log" Xvfb -displayfd 1 -nolisten tcp -screen 0 640x480x24
display_number() {
    grep -m 1 -xE '[0-9]+' "$e2e_work/xvfb.log"
}
e2e_wait 15 display_number || e2e_fail "Xvfb did not start"
display=":$(display_number)"
pv_netns_spawn server "$e2e_work/sleeper.log" sleep 600
readonly sleeper=$PV_NETNS_LAST_PID
pv_netns_spawn server "$e2e_work/xev.log" env DISPLAY="$display" xev -geometry 80x60
event_window() {
    on_display xwininfo -root -children | awk '/"Event Tester"/ { print $1; exit }' | grep .
}
e2e_wait 10 event_window || e2e_fail "the window did not appear"
window=$(event_window)
on_display xprop -id "$window" -f _NET_WM_PID 32c -set _NET_WM_PID "$sleeper" ||
    e2e_fail "cannot stamp the window"

# The questions stay on the terminal, where the test answers them.
e2e_server_options=(--terminal)
e2e_start_server server DISPLAY="$display"
pad_port=$(e2e_found_port _kesp._tcp) || e2e_fail "the pad service is not announced"

e2e_step "the monitor names the application in front to an admitted pad"
# Admitted first, so that the change of the application in front reaches it.
e2e_admitted watching-pad "$server_ipv4" "$pad_port"
on_display xprop -root -f _NET_ACTIVE_WINDOW 32i -set _NET_ACTIVE_WINDOW "$((window))" ||
    e2e_fail "cannot make the window active"
# AppName: 144 bytes, type 4, argument 132, the name "sleep" and the sleeper's process id.
name_field=$(printf '%-256s' 736c656570 | tr ' ' 0)
pid_field=$(printf '%08x' "$sleeper" | sed -E 's/(..)(..)(..)(..)/\4\3\2\1/')
e2e_client_saw watching-pad "^message 4 132 900000000400000084000000${name_field}${pid_field}$" 15 ||
    e2e_fail "no AppName naming sleep reached the pad"
grep -qx 'Appswitch: sleep' "$e2e_work/server.err" || e2e_fail "the switch was not traced"

e2e_step "a key while another application is wanted beeps and types nothing"
want wanting-pad notepad.exe
e2e_admitted_tool typing-pad type "$server_ipv4" "$pad_port" A
e2e_wait 10 typed_lines_are "$beep" || e2e_fail "a refused A gave: $(e2e_input_lines)"
sleep 1
typed_lines_are "$beep" || e2e_fail "a refused A gave: $(e2e_input_lines)"

e2e_step "keys come out while the application in front is wanted"
want sleep-pad sleep
e2e_admitted_tool typing-pad-2 type "$server_ipv4" "$pad_port" A
e2e_wait 10 typed_lines_are "$beep"$'\n'"$e2e_shifted_a" ||
    e2e_fail "typed A gave: $(e2e_input_lines)"

e2e_step "refused again for another application, then let through for every application"
want other-pad gedit
e2e_admitted_tool typing-pad-3 type "$server_ipv4" "$pad_port" A
e2e_wait 10 typed_lines_are "$beep"$'\n'"$e2e_shifted_a"$'\n'"$beep" ||
    e2e_fail "a refused A gave: $(e2e_input_lines)"
want generic-pad "<generic>"
e2e_admitted_tool typing-pad-4 type "$server_ipv4" "$pad_port" A
e2e_wait 10 typed_lines_are "$beep"$'\n'"$e2e_shifted_a"$'\n'"$beep"$'\n'"$e2e_shifted_a" ||
    e2e_fail "typed A for every application gave: $(e2e_input_lines)"

e2e_stop_server TERM 15
[[ $e2e_server_status -eq 0 ]] || e2e_fail "the program ended with $e2e_server_status"
echo "PASS"
