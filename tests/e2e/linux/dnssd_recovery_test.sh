#!/bin/bash
# The services stay announced whatever happens on the DNS-SD side: a name that another
# program holds gives way to the next free one ("HOST (2)"), Disconnects in quick succession
# never end the pad service, and a restarted avahi-daemon ends neither service: the user is
# told once, and both come back by themselves once the daemon is back.
set -u
source "$(dirname "$(readlink -f "$0")")/e2e_common.sh"

readonly pad_failure='Pellvane Server: Pellvane Server could not start the Bonjour service.'
readonly channel_failure='Pellvane Server: Pellvane Server could not start the Channel Server.'

# "NAME PORT" of each resolved IPv4 announcement of TYPE from the server, the name as
# avahi-browse writes it (a space is \032, the parentheses \040 and \041). avahi-browse
# may wait for ever on a resolver of an instance that went and came back under one name,
# as the pad service does at each Disconnect: each look is cut short.
announced() {
    pv_netns_exec pad timeout 10 avahi-browse --resolve --parsable --terminate "$1" 2>/dev/null |
        awk -F';' -v type="$1" -v address="$server_ipv4" \
            '$1 == "=" && $3 == "IPv4" && $5 == type && $8 == address { print $4, $9 }' | sort -u
}

# The port of the pad service announced as "HOST (2)".
renamed_pad_port() {
    announced _kesp._tcp | awk '$1 ~ /\\032\\0402\\041$/ && $2 != 9 { print $2 }'
}

starts() {
    grep -c '^UDP sockets created!$' "$e2e_work/server.err"
}

told() {
    grep -cxF "$1" "$e2e_work/server.err"
}

both_told() {
    (($(told "$pad_failure") >= 1 && $(told "$channel_failure") >= 1))
}

# Both services announced again, each on one port only: the pad service elsewhere than
# before, the channel service where the terminal says.
both_back() {
    local pad channel
    pad=$(announced _kesp._tcp | awk '$2 != 9 { print $2 }')
    channel=$(announced _kespchan._tcp | awk '{ print $2 }')
    [[ -n $pad && $(wc -l <<<"$pad") -eq 1 && $pad != "$pad_port" ]] &&
        [[ -n $channel && $(wc -l <<<"$channel") -eq 1 &&
            $channel == "$(sed -n 's/^Channel server port: //p' "$e2e_work/server.out" | tail -n 1)" ]]
}

e2e_setup_network

e2e_step "a name that another program holds gives way to the next free one"
pv_netns_spawn server "$e2e_work/holder.log" avahi-publish -s "$(hostname)" _kesp._tcp 9
e2e_wait 10 grep -q "^Established" "$e2e_work/holder.log" || e2e_fail "avahi-publish could not take the name"
e2e_start_server server
e2e_wait 20 eval '[[ -n $(renamed_pad_port) ]]' || e2e_fail "the pad service is not announced as '$(hostname) (2)'"
pad_port=$(renamed_pad_port)
e2e_wait 20 eval '[[ -n $(announced _kespchan._tcp) ]]' || e2e_fail "the channel service is not announced"
echo "pad service announced as '$(hostname) (2)' on port $pad_port"

e2e_step "four Disconnects within a second leave the pad service running"
before=$(starts)
for _ in 1 2 3 4; do
    kill -HUP "$e2e_server_pid"
    sleep 0.2
done
e2e_wait 10 eval '(($(starts) >= before + 4))' || e2e_fail "the pad service did not start again four times"
e2e_wait 60 eval '[[ -n $(renamed_pad_port) && $(renamed_pad_port) != "$pad_port" ]]' ||
    e2e_fail "the pad service is not announced again after the Disconnects"
[[ $(told "$pad_failure") -eq 0 ]] || e2e_fail "Disconnects were taken for failures"
pad_port=$(renamed_pad_port)

e2e_step "a restarted avahi-daemon: the user is told once and both services come back"
pv_netns_restart_avahi server e2e_wait 20 both_told ||
    e2e_fail "the lost daemon was not reported for both services"
e2e_wait 60 both_back || e2e_fail "the services did not come back with the daemon"
[[ $(told "$pad_failure") -eq 1 && $(told "$channel_failure") -eq 1 ]] ||
    e2e_fail "the outage was not told exactly once per service"
echo "both services announced again; each outage told once"

e2e_stop_server TERM 10
[[ $e2e_server_status -eq 0 ]] || e2e_fail "SIGTERM ended the program with $e2e_server_status"
echo "PASS"
