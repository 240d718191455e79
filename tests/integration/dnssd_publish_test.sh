#!/bin/bash
# Shows that the pad service and the channel service are announced through a real
# avahi-daemon with the computer's host name and their TCP ports, that each server hears
# that it was published, that a restart announces the new ports, and that both
# announcements are withdrawn when the servers stop.
#
# The servers run in a private network namespace with its own D-Bus and avahi-daemon; a
# second namespace, linked to it by a veth pair and running its own avahi-daemon, browses
# for them as a pad on the local network would. Nothing touches the machine's interfaces.
#
# Usage: dnssd_publish_test.sh PUBLISH_PROGRAM
# Exits 77 (skipped) when not run as root, which namespaces need.
set -u

readonly program=$1
readonly here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
readonly server_address=192.168.77.1
readonly peer_address=192.168.77.2
readonly service_types=(_kesp._tcp _kespchan._tcp)

if [[ $(id -u) -ne 0 ]]; then
    echo "skipped: network namespaces need root"
    exit 77
fi
# shellcheck source=netns_avahi.sh
source "$here/netns_avahi.sh"

fail() {
    echo "FAIL: $*" >&2
    show_diagnostics >&2
    exit 1
}

show_diagnostics() {
    local file
    for file in "$(pv_netns_workdir)"/*.log "$(pv_netns_workdir)"/*.err; do
        [[ -f $file ]] || continue
        echo "---- ${file##*/}"
        cat "$file"
    done
}

# The instance name as avahi-browse prints it in parsable form: dots and backslashes are
# escaped with a backslash, other bytes outside letters, digits, '-' and '_' as \DDD.
avahi_escaped() {
    local LC_ALL=C text=$1 out="" char i
    for ((i = 0; i < ${#text}; i++)); do
        char=${text:i:1}
        case $char in
            [A-Za-z0-9_-]) out+=$char ;;
            . | \\) out+="\\$char" ;;
            *) out+=$(printf '\\%03d' "'$char") ;;
        esac
    done
    printf '%s' "$out"
}

browse() {
    pv_netns_exec "$1" avahi-browse --resolve --parsable --terminate "$2" 2>/dev/null
}

# Succeeds when the namespace's avahi-daemon resolves TYPE to our instance on the server's
# address and PORT, with the server's host as its target, and to no other port.
resolved_as_expected() {
    local ns=$1 type=$2 port=$3
    browse "$ns" "$type" | tee -a "$(pv_netns_workdir)/browse-$ns.log" |
        want_type=$type want_name=$expected_instance want_host=$expected_target \
            want_address=$server_address want_port=$port awk -F';' '
            # Through the environment: awk -v would undo the backslashes of the name.
            $1 == "=" && $5 == ENVIRON["want_type"] && $9 != ENVIRON["want_port"] { stale = 1 }
            $1 == "=" && $3 == "IPv4" && $4 == ENVIRON["want_name"] &&
            $5 == ENVIRON["want_type"] && $6 == "local" && $7 == ENVIRON["want_host"] &&
            $8 == ENVIRON["want_address"] && $9 == ENVIRON["want_port"] { found = 1 }
            END { exit !(found && !stale) }'
}

absent() {
    ! browse "$1" "$2" | grep -q ";$2;"
}

# event_seen TIMES LINE: the program has reported LINE (a whole-line pattern) TIMES times.
event_seen() {
    (($(grep -cx "$2" "$events") >= $1))
}

# wait_for_event SECONDS TIMES LINE
wait_for_event() {
    pv_netns_wait_for "$1" event_seen "$2" "$3"
}

# Follows the program through its round-th start: the services start under the host name,
# hear that they were published, and both namespaces resolve them to their new ports.
expect_announced() {
    local round=$1 type line port name ns
    for type in "${service_types[@]}"; do
        wait_for_event 10 "$round" "started $type [0-9]* .*" || fail "$type did not start (round $round)"
        line=$(grep "^started $type " "$events" | tail -n 1)
        read -r _ _ port name <<<"$line"
        [[ $name == "$host_name" ]] || fail "$type is named '$name', not the host name '$host_name'"
        ports[$type]=$port
    done
    for type in "${service_types[@]}"; do
        wait_for_event 15 "$round" "published $type" ||
            fail "serverDidPublish was not called for $type (round $round)"
    done
    echo "round $round: both servers heard that they were published"
    for ns in server peer; do
        for type in "${service_types[@]}"; do
            pv_netns_wait_for 20 resolved_as_expected "$ns" "$type" "${ports[$type]}" ||
                fail "$ns namespace: $type is not announced as $expected_instance on port ${ports[$type]} alone"
            echo "round $round: $ns namespace sees $type: $expected_instance at $expected_target port ${ports[$type]}"
        done
    done
}

pv_netns_init || exit 1
pv_netns_create server || exit 1
pv_netns_create peer || exit 1
pv_netns_link server pv0 "$server_address/24" peer pv0 "$peer_address/24" || exit 1
pv_netns_start_avahi server pv0 || fail "avahi-daemon did not start in the server namespace"
# Its own host name keeps the two responders from contesting one name on the link.
pv_netns_start_avahi peer pv0 pellvane-peer || fail "avahi-daemon did not start in the peer namespace"

readonly work=$(pv_netns_workdir)
readonly events=$work/publisher.log
readonly host_name=$(hostname)
readonly expected_instance=$(avahi_escaped "$host_name")
readonly expected_target="${host_name%%.*}.local"

mkfifo "$work/publisher.in"
exec {feed}<>"$work/publisher.in"
AVAHI_COMPAT_NOWARN=1 pv_netns_exec server "$program" \
    <"$work/publisher.in" >"$events" 2>"$work/publisher.err" &
publisher=$!

declare -A ports=()
expect_announced 1

# A restart (what the retry policy does after a failure) must announce the new ports and
# leave nothing of the old registrations behind.
echo restart >&"$feed"
for type in "${service_types[@]}"; do
    wait_for_event 10 1 "stopped $type" || fail "$type did not report that it stopped for the restart"
done
expect_announced 2

echo stop >&"$feed"
for type in "${service_types[@]}"; do
    wait_for_event 10 2 "stopped $type" || fail "$type did not report that it stopped"
done
wait "$publisher"
status=$?
[[ $status -eq 0 ]] || fail "the publishing program exited with $status"

for ns in server peer; do
    for type in "${service_types[@]}"; do
        pv_netns_wait_for 20 absent "$ns" "$type" || fail "$ns namespace: $type is still announced after stop"
    done
    echo "$ns namespace: both services are gone after stop"
done
echo "PASS"
