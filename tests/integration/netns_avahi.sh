# Private networks for tests that need a real mDNS responder: network namespaces joined by
# veth pairs, each with its own D-Bus system bus and avahi-daemon, so that nothing is ever
# announced on the machine's own interfaces and parallel tests do not see each other.
#
# Source this file, then:
#   pv_netns_init                         # checks the tools, arranges teardown on exit
#   pv_netns_create NAME                  # a namespace with loopback up and a private /run
#   pv_netns_link NAME1 IF1 ADDR1 NAME2 IF2 ADDR2
#                                         # a veth pair between two namespaces, addresses in CIDR form
#   pv_netns_start_avahi NAME IFACE [HOST]
#                                         # dbus-daemon and avahi-daemon in NAME, mDNS on IFACE only
#   pv_netns_restart_avahi NAME [PAUSE_COMMAND...]
#                                         # stops NAME's avahi-daemon, runs the command (while
#                                         # no responder runs), starts avahi-daemon again
#   pv_netns_exec NAME COMMAND...         # runs a command inside (the daemons' bus and sockets)
#   pv_netns_spawn NAME LOG COMMAND...    # the same in the background; its pid in PV_NETNS_LAST_PID
#   pv_netns_teardown                     # ends every process inside and deletes the namespaces
#
# Each namespace's processes share one mount namespace whose /run (and so /var/run) is a
# private tmpfs: the daemons find their usual socket and pid paths (/run/dbus/system_bus_socket,
# /run/avahi-daemon/) without colliding with the host's or another test's. A long-lived
# "anchor" process holds that mount namespace; every command enters it with nsenter.
#
# Namespaces are named pellvane-<driver pid>-<random>-NAME; a later run deletes those whose
# driver has gone (a test killed by a timeout cannot run its own teardown).
# Define pv_netns_before_teardown to run something of your own first (inside the EXIT trap).

PV_NETNS_ID=""
PV_NETNS_WORK=""
PV_NETNS_LAST_PID=""
PV_NETNS_NAMES=()
PV_NETNS_CHILDREN=()
declare -A PV_NETNS_ANCHOR=() PV_NETNS_AVAHI=() PV_NETNS_AVAHI_STARTS=()

pv_netns_fail() {
    echo "netns: $*" >&2
    return 1
}

pv_netns_require_tools() {
    local tool missing=()
    for tool in ip nsenter unshare mount dbus-daemon avahi-daemon avahi-browse; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    if ((${#missing[@]} > 0)); then
        pv_netns_fail "missing tools: ${missing[*]}"
        return 1
    fi
}

pv_netns_init() {
    [[ $(id -u) -eq 0 ]] || { pv_netns_fail "must run as root"; return 1; }
    pv_netns_require_tools || return 1
    pv_netns_reap_stale
    PV_NETNS_ID="pellvane-$$-$RANDOM"
    PV_NETNS_WORK=$(mktemp -d "${TMPDIR:-/tmp}/${PV_NETNS_ID}.XXXXXX") || return 1
    trap pv_netns_teardown EXIT
    # Turn signals into an ordinary exit so that the EXIT trap tears everything down.
    trap 'exit 130' INT
    trap 'exit 143' TERM HUP
}

# The namespace's full name, as `ip netns` knows it.
pv_netns_name() {
    echo "${PV_NETNS_ID}-$1"
}

# The folder where this run keeps its configuration files and logs.
pv_netns_workdir() {
    echo "$PV_NETNS_WORK"
}

pv_netns_create() {
    local name=$1 ns ready
    ns=$(pv_netns_name "$name")
    [[ -z ${PV_NETNS_ANCHOR[$name]:-} ]] || { pv_netns_fail "$name exists"; return 1; }
    ip netns add "$ns" || return 1
    PV_NETNS_NAMES+=("$name")
    ip -n "$ns" link set lo up || return 1
    ready="$PV_NETNS_WORK/$name.anchor-ready"
    # The anchor mounts the private /run (with the folders the daemons expect), hides the host's static avahi services, reports
    # ready and then only waits; ip netns exec, unshare and sh all exec, so $! is its pid.
    ip netns exec "$ns" unshare --mount --propagation private -- sh -c '
        mount -t tmpfs -o mode=0755 pellvane-run /run || exit 1
        mkdir -p /run/dbus /run/lock || exit 1
        if [ -d /etc/avahi/services ]; then
            mount -t tmpfs -o mode=0755 pellvane-avahi-services /etc/avahi/services || exit 1
        fi
        : > "$1"
        exec sleep infinity' pellvane-anchor "$ready" </dev/null >/dev/null 2>&1 &
    PV_NETNS_ANCHOR[$name]=$!
    PV_NETNS_CHILDREN+=("$!")
    pv_netns_wait_for 10 test -e "$ready" || { pv_netns_fail "$name: anchor did not start"; return 1; }
}

pv_netns_link() {
    local ns1 ns2
    ns1=$(pv_netns_name "$1")
    ns2=$(pv_netns_name "$4")
    # Created directly inside the two namespaces: neither end ever exists on the host.
    ip link add "$2" netns "$ns1" type veth peer name "$5" netns "$ns2" || return 1
    ip -n "$ns1" addr add "$3" dev "$2" && ip -n "$ns1" link set "$2" up || return 1
    ip -n "$ns2" addr add "$6" dev "$5" && ip -n "$ns2" link set "$5" up || return 1
}

# The pid that holds the namespace's mounts, or a failure for an unknown name.
pv_netns_anchor() {
    local anchor=${PV_NETNS_ANCHOR[$1]:-}
    [[ -n $anchor ]] || { pv_netns_fail "no namespace $1"; return 1; }
    echo "$anchor"
}

pv_netns_exec() {
    local anchor
    anchor=$(pv_netns_anchor "$1") || return 1
    shift
    nsenter --target "$anchor" --mount --net --wd="$PWD" -- "$@"
}

pv_netns_spawn() {
    local anchor log=$2
    anchor=$(pv_netns_anchor "$1") || return 1
    shift 2
    # A simple command in the background is exec'd in the forked shell, and nsenter execs
    # the command (no pid namespace is entered), so $! is the command itself.
    nsenter --target "$anchor" --mount --net --wd="$PWD" -- "$@" </dev/null >"$log" 2>&1 &
    PV_NETNS_LAST_PID=$!
    PV_NETNS_CHILDREN+=("$!")
}

pv_netns_write_avahi_config() {
    local file=$1 iface=$2 host=$3
    {
        echo "[server]"
        [[ -z $host ]] || echo "host-name=$host"
        echo "use-ipv4=yes"
        echo "use-ipv6=no"
        echo "allow-interfaces=$iface"
        echo "enable-dbus=yes"
        echo "ratelimit-interval-usec=1000000"
        echo "ratelimit-burst=1000"
        echo "[wide-area]"
        echo "enable-wide-area=no"
        echo "[publish]"
        echo "publish-hinfo=no"
        echo "publish-workstation=no"
        echo "[reflector]"
        echo "enable-reflector=no"
        echo "[rlimits]"
    } >"$file"
}

pv_netns_start_avahi() {
    local name=$1 iface=$2 host=${3:-}
    local config="$PV_NETNS_WORK/$name.avahi-daemon.conf"
    local dbus_log="$PV_NETNS_WORK/$name.dbus.log" avahi_log="$PV_NETNS_WORK/$name.avahi.log"
    pv_netns_write_avahi_config "$config" "$iface" "$host"

    pv_netns_spawn "$name" "$dbus_log" dbus-daemon --system --nofork --nopidfile --nosyslog
    if ! pv_netns_wait_for 10 pv_netns_exec "$name" test -S /run/dbus/system_bus_socket; then
        cat "$dbus_log" >&2
        pv_netns_fail "$name: dbus-daemon did not start"
        return 1
    fi
    pv_netns_run_avahi "$name"
}

# Starts NAME's avahi-daemon with the configuration that pv_netns_start_avahi wrote; each
# start logs to a file of its own.
pv_netns_run_avahi() {
    local name=$1 config="$PV_NETNS_WORK/$1.avahi-daemon.conf" avahi_log
    local starts=$((${PV_NETNS_AVAHI_STARTS[$name]:-0} + 1))
    PV_NETNS_AVAHI_STARTS[$name]=$starts
    avahi_log="$PV_NETNS_WORK/$name.avahi.log"
    ((starts == 1)) || avahi_log="$PV_NETNS_WORK/$name.avahi-$starts.log"
    # Without a chroot the daemon needs no copy of the bus socket; it still drops to 'avahi'.
    pv_netns_spawn "$name" "$avahi_log" avahi-daemon -f "$config" --no-chroot --no-proc-title
    PV_NETNS_AVAHI[$name]=$PV_NETNS_LAST_PID
    if ! pv_netns_wait_for 20 grep -q "Server startup complete" "$avahi_log"; then
        cat "$avahi_log" >&2
        pv_netns_fail "$name: avahi-daemon did not start"
        return 1
    fi
}

pv_netns_restart_avahi() {
    local name=$1 pid=${PV_NETNS_AVAHI[$1]:-}
    shift
    [[ -n $pid ]] || { pv_netns_fail "no avahi-daemon runs in $name"; return 1; }
    # TERM: the daemon says goodbye for its records, as a restart by the system does.
    kill -s TERM "$pid" 2>/dev/null
    pv_netns_wait_for 10 pv_netns_ended "$pid" || { pv_netns_fail "$name: avahi-daemon did not stop"; return 1; }
    wait "$pid" 2>/dev/null
    if (($# > 0)); then
        "$@" || return 1
    fi
    pv_netns_run_avahi "$name"
}

# True once PID has exited (a child of ours that nobody has waited for yet is a zombie).
pv_netns_ended() {
    ! kill -0 "$1" 2>/dev/null || [[ $(ps -o stat= -p "$1") == Z* ]]
}

# pv_netns_wait_for SECONDS COMMAND...: polls the command until it succeeds or time is up.
pv_netns_wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

# Ends every process in a namespace (all of them were started by this library's user),
# then deletes it.
pv_netns_delete() {
    local ns=$1 pids round
    for round in TERM TERM TERM KILL; do
        pids=$(ip netns pids "$ns" 2>/dev/null)
        [[ -n $pids ]] || break
        # shellcheck disable=SC2086
        kill -s "$round" $pids 2>/dev/null
        sleep 0.3
    done
    ip netns del "$ns" 2>/dev/null
}

pv_netns_teardown() {
    local status=$? name i
    trap - EXIT INT TERM HUP
    if declare -F pv_netns_before_teardown >/dev/null; then
        pv_netns_before_teardown
    fi
    for ((i = ${#PV_NETNS_NAMES[@]} - 1; i >= 0; i--)); do
        name=${PV_NETNS_NAMES[$i]}
        pv_netns_delete "$(pv_netns_name "$name")"
    done
    # Collect the exit of every child started here, so that no zombie remains.
    if ((${#PV_NETNS_CHILDREN[@]} > 0)); then
        wait "${PV_NETNS_CHILDREN[@]}" 2>/dev/null
    fi
    PV_NETNS_CHILDREN=()
    PV_NETNS_NAMES=()
    PV_NETNS_ANCHOR=()
    if [[ -n $PV_NETNS_WORK && -d $PV_NETNS_WORK ]]; then
        if [[ -n ${PV_NETNS_KEEP_LOGS:-} ]]; then
            echo "netns: logs kept in $PV_NETNS_WORK" >&2
        else
            rm -rf "$PV_NETNS_WORK"
        fi
    fi
    return "$status"
}

# Deletes the namespaces and folders left by earlier runs whose driver no longer exists.
pv_netns_reap_stale() {
    local ns folder
    while read -r ns _; do
        pv_netns_owner_gone "$ns" || continue
        echo "netns: deleting $ns, left by an ended run" >&2
        pv_netns_delete "$ns"
    done < <(ip netns list 2>/dev/null)
    for folder in "${TMPDIR:-/tmp}"/pellvane-*; do
        [[ -d $folder && ! -L $folder ]] || continue
        pv_netns_owner_gone "${folder##*/}" && rm -rf "$folder"
    done
}

# True when NAME follows this library's naming and the run that made it has ended.
pv_netns_owner_gone() {
    [[ $1 =~ ^pellvane-([0-9]+)-[0-9]+[-.] ]] || return 1
    ! kill -0 "${BASH_REMATCH[1]}" 2>/dev/null
}
