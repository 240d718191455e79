#!/bin/bash
# The program on a desktop of the test's own, inside the server's namespace: an Xvfb, a
# session bus, Xfce's panel (whose systray hosts StatusNotifierItems) and Xfce's notification
# server. The icon is registered with the panel's watcher and drawn; its menu holds the
# program's items; a pad's Hello raises one notification with Allow and Refuse, and clicking
# Allow admits it, Refuse refuses; a Disconnect from the menu with a question open withdraws
# the notification; Start at login writes and removes the autostart file; Quit from the menu
# ends the program. Without a notification server, a zenity dialog asks instead, and the menu
# can answer it.
set -u
source "$(dirname "$(readlink -f "$0")")/e2e_common.sh"
for command in Xvfb xfce4-panel xdotool import dbus-send; do
    command -v "$command" >/dev/null || { echo "skipped: $command is missing"; exit 77; }
done
readonly notifyd=/usr/lib/x86_64-linux-gnu/xfce4/notifyd/xfce4-notifyd
[[ -x $notifyd ]] || { echo "skipped: xfce4-notifyd is missing"; exit 77; }

e2e_setup_network
readonly display=:$((60 + RANDOM % 200))
readonly desktop="$e2e_work/desktop"
mkdir -p "$desktop/config/xfce4/xfconf/xfce-perchannel-xml" "$desktop/home"
cp "$e2e_here/xfce4-panel.xml" "$desktop/config/xfce4/xfconf/xfce-perchannel-xml/"
desktop_env=(DISPLAY="$display" HOME="$desktop/home" XDG_CONFIG_HOME="$desktop/config"
    XDG_CACHE_HOME="$desktop/cache" XDG_DATA_HOME="$desktop/data"
    XDG_RUNTIME_DIR="$e2e_work/runtime" NO_AT_BRIDGE=1)

pv_netns_spawn server "$e2e_work/xvfb.log" Xvfb "$display" -nolisten tcp -screen 0 1024x600x24
e2e_wait 10 pv_netns_exec server env DISPLAY="$display" xdpyinfo >/dev/null 2>&1 ||
    e2e_fail "Xvfb did not start"
# The bus starts only Xfce's settings store on demand, with the desktop's folders: a
# notification server that the test ended must stay gone.
mkdir -p "$desktop/services"
cp /usr/share/dbus-1/services/org.xfce.Xfconf.service "$desktop/services/"
cat >"$desktop/session.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$e2e_work/runtime/bus</listen>
  <servicedir>$desktop/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
pv_netns_spawn server "$e2e_work/session-bus.log" env "${desktop_env[@]}" dbus-daemon \
    --config-file="$desktop/session.conf" --nofork
e2e_wait 10 test -S "$e2e_work/runtime/bus" || e2e_fail "the session bus did not start"
desktop_env+=(DBUS_SESSION_BUS_ADDRESS="unix:path=$e2e_work/runtime/bus")

in_desktop() {
    pv_netns_exec server env "${desktop_env[@]}" "$@"
}
bus_names() {
    in_desktop dbus-send --session --print-reply --dest=org.freedesktop.DBus \
        /org/freedesktop/DBus org.freedesktop.DBus.ListNames 2>/dev/null
}
bus_has() {
    bus_names | grep -q "\"$1"
}

pv_netns_spawn server "$e2e_work/notifyd.log" env "${desktop_env[@]}" "$notifyd"
notifyd_pid=$PV_NETNS_LAST_PID
pv_netns_spawn server "$e2e_work/panel.log" env "${desktop_env[@]}" xfce4-panel
e2e_wait 20 bus_has org.kde.StatusNotifierWatcher || e2e_fail "the panel's watcher is not on the bus"
e2e_wait 20 bus_has org.freedesktop.Notifications || e2e_fail "the notification server is not on the bus"

e2e_start_server server "${desktop_env[@]}"
pad_port=$(e2e_found_port _kesp._tcp) || e2e_fail "the pad service is not announced"

item=""
find_item() {
    item=$(bus_names | grep -o 'org\.kde\.StatusNotifierItem-[0-9]*-1' | head -n 1)
    [[ -n $item ]]
}
layout() {
    in_desktop dbus-send --session --print-reply --dest="$item" /MenuBar \
        com.canonical.dbusmenu.GetLayout int32:0 int32:-1 array:string:
}
layout_has() {
    layout | grep -qF "string \"$1\""
}
# click ID: what the panel sends when an item is chosen.
click() {
    in_desktop dbus-send --session --print-reply --dest="$item" /MenuBar \
        com.canonical.dbusmenu.Event int32:"$1" string:clicked variant:int32:0 uint32:0 >/dev/null
}
notices() {
    in_desktop xdotool search --onlyvisible --class xfce4-notifyd 2>/dev/null |
        while read -r window; do
            eval "$(in_desktop xdotool getwindowgeometry --shell "$window")"
            ((WIDTH > 50)) && echo "$window"
        done
}
notice_count_is() {
    [[ $(notices | wc -l) -eq $1 ]]
}
# click_notice_button allow|refuse: the two buttons sit at the notice's lower right edge.
click_notice_button() {
    local window
    window=$(notices | tail -n 1)
    [[ -n $window ]] || e2e_fail "no notification to click"
    eval "$(in_desktop xdotool getwindowgeometry --shell "$window")"
    local offset=57
    [[ $1 == allow ]] && offset=150
    in_desktop xdotool mousemove $((X + WIDTH - offset)) $((Y + HEIGHT - 31)) click 1
}

e2e_step "the icon is registered with the panel's watcher"
e2e_wait 10 find_item || e2e_fail "the program has no StatusNotifierItem name"
e2e_wait 10 eval 'in_desktop dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher \
    /StatusNotifierWatcher org.freedesktop.DBus.Properties.Get \
    string:org.kde.StatusNotifierWatcher string:RegisteredStatusNotifierItems | grep -q "$item"' ||
    e2e_fail "the watcher does not list $item"

e2e_step "the menu holds the program's items"
channel_port=$(e2e_shown_channel_port server)
for label in "Channel server port: $channel_port" "No pad connected" "Start at _login" \
    "_Informazioni su..." "_Quit"; do
    layout_has "$label" || e2e_fail "the menu lacks '$label': $(layout)"
done

e2e_step "the icon is drawn in the panel, and its menu opens"
# The panel is the 32-pixel strip along the top; the icon's teal tile is the only colour there.
teal_pixels() {
    in_desktop import -window root -crop 1024x32+0+0 "$1" 2>/dev/null &&
        convert "$1" -fx '(g > 0.3 && b > 0.3 && r < 0.3) ? 1 : 0' -format '%[fx:int(mean*w*h)]' info:
}
e2e_wait 10 eval '(( $(teal_pixels "$e2e_work/panel.png") > 40 ))' ||
    e2e_fail "no icon in the panel: $(teal_pixels "$e2e_work/panel.png") teal pixels"
icon_x=$(convert "$e2e_work/panel.png" -fx '(g > 0.3 && b > 0.3 && r < 0.3) ? 1 : 0' \
    -trim -format '%[fx:page.x + w / 2]' info:)
in_desktop xdotool mousemove "${icon_x%.*}" 16 click 1
sleep 1
in_desktop import -window root "$e2e_work/menu.png" || e2e_fail "no screenshot of the menu"
# Kept beside the program for a person to look at.
cp "$e2e_work/panel.png" "$e2e_work/menu.png" "$(dirname "$e2e_server_program")/" 2>/dev/null
mv "$(dirname "$e2e_server_program")/panel.png" "$(dirname "$e2e_server_program")/desktop-panel.png"
mv "$(dirname "$e2e_server_program")/menu.png" "$(dirname "$e2e_server_program")/desktop-menu.png"
in_desktop xdotool key Escape

e2e_step "a Hello raises one notification; Allow admits"
e2e_client allowed-pad "$server_ipv4" "$pad_port"
e2e_client_send allowed-pad "hello allowed-pad"
e2e_wait 10 notice_count_is 1 || e2e_fail "$(notices | wc -l) notifications for one Hello"
layout_has "Allow allowed-pad" || e2e_fail "the menu does not hold the question"
click_notice_button allow
e2e_client_saw allowed-pad '^message 2 ' || e2e_fail "Allow did not admit the pad"
e2e_wait 10 layout_has "Connected pad: allowed-pad ($pad_ipv4)" ||
    e2e_fail "the menu does not name the connected pad: $(layout)"
layout_has "_Disconnect" || e2e_fail "the menu offers no Disconnect with a pad connected"

e2e_step "Refuse refuses"
e2e_client refused-pad "$server_ipv6" "$pad_port"
e2e_client_send refused-pad "hello refused-pad"
e2e_wait 10 notice_count_is 1 || e2e_fail "no notification for the second pad"
click_notice_button refuse
e2e_client_saw refused-pad '^message 3 ' || e2e_fail "Refuse did not refuse"
! grep -q '^message 2 ' "$e2e_work/refused-pad.log" || e2e_fail "a refused pad got a HelloReply"

e2e_step "Disconnect with a question open withdraws its notification"
# From the pad's own IPv4 address: its IPv6 one was refused a moment ago.
e2e_client waiting-pad "$server_ipv4" "$pad_port"
e2e_client_send waiting-pad "hello waiting-pad"
e2e_wait 10 notice_count_is 1 || e2e_fail "no notification for the waiting pad"
click 105
e2e_wait 10 notice_count_is 0 || e2e_fail "the notification stayed after Disconnect"
e2e_client_saw allowed-pad '^closed$' || e2e_fail "Disconnect left the admitted pad connected"
! grep -q '^message 2 ' "$e2e_work/waiting-pad.log" || e2e_fail "the withdrawn question admitted"

e2e_step "Start at login writes and removes the autostart file"
readonly autostart="$desktop/config/autostart/pellvane-server.desktop"
click 304
e2e_wait 5 test -f "$autostart" || e2e_fail "no autostart file after Start at login"
grep -q "^Exec=.*pellvane-server" "$autostart" || e2e_fail "the autostart file does not start the program"
e2e_wait 5 eval 'layout | grep -A1 -F "toggle-state" | grep -q "int32 1"' ||
    e2e_fail "Start at login is not ticked"
click 304
e2e_wait 5 eval '! test -e "$autostart"' || e2e_fail "the autostart file stayed"

e2e_step "Quit from the menu ends the program"
click 106
e2e_wait 10 e2e_server_ended || e2e_fail "the program did not end after Quit"
wait "$e2e_server_pid"
status=$?
[[ $status -eq 0 ]] || e2e_fail "the program ended with $status"

e2e_step "without a notification server a zenity dialog asks, and the menu answers it too"
kill "$notifyd_pid"
e2e_wait 10 eval '! bus_has org.freedesktop.Notifications' || e2e_fail "the notification server stayed"
# The first program's end left its input pipe closed; the next one gets a new one.
exec {e2e_server_feed}>&-
rm -f "$e2e_work/server.in"
e2e_start_server server "${desktop_env[@]}"
e2e_wait 10 find_item || e2e_fail "the second program has no StatusNotifierItem"
# The pad's responder may still hold the first program's announcement for a moment.
first_port=$pad_port
new_pad_port() {
    pad_port=$(e2e_found_port _kesp._tcp) && [[ $pad_port != "$first_port" ]]
}
e2e_wait 20 new_pad_port || e2e_fail "the pad service is not announced again"
dialog_shown() {
    in_desktop xdotool search --onlyvisible --name '^Pellvane Server$' >/dev/null 2>&1
}
e2e_client zenity-pad "$server_ipv4" "$pad_port"
e2e_client_send zenity-pad "hello zenity-pad"
e2e_wait 10 dialog_shown || e2e_fail "no dialog asked"
in_desktop xdotool search --onlyvisible --name '^Pellvane Server$' windowfocus --sync key Return
e2e_client_saw zenity-pad '^message 3 ' || e2e_fail "Enter in the dialog did not refuse"
e2e_wait 10 eval '! dialog_shown' || e2e_fail "the dialog stayed after its answer"

e2e_client menu-pad "$server_ipv6" "$pad_port"
e2e_client_send menu-pad "hello menu-pad"
e2e_wait 10 dialog_shown || e2e_fail "no dialog asked about the second pad"
e2e_wait 5 layout_has "Allow menu-pad" || e2e_fail "the menu does not hold the dialog's question"
click 301
e2e_client_saw menu-pad '^message 2 ' || e2e_fail "Allow in the menu did not admit"
e2e_wait 10 eval '! dialog_shown' || e2e_fail "the dialog stayed after the menu answered"
e2e_stop_server TERM 10
[[ $e2e_server_status -eq 0 ]] || e2e_fail "the second program ended with $e2e_server_status"
echo "PASS"
