# Shared steps of the end-to-end tests of the Linux program: a private network of two
# namespaces (the server's computer and a pad's device) joined by a veth pair with IPv4 and
# IPv6 addresses, each with its own D-Bus and avahi-daemon; the built pellvane-server started
# in a temporary working directory inside the server namespace, its standard input fed by the
# test (the admission question) and its output collected; pads and channel programs run in
# the pad namespace and find the services through avahi-browse.
#
# Source this file from a test script run as
#   TEST.sh SERVER_PROGRAM PAD_TOOL
# It exits 77 (skipped) when not run as root. Every wait is bounded; the netns library tears
# down every process and namespace on exit.

readonly e2e_here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
readonly e2e_server_program=$(readlink -f "$1")
readonly e2e_pad_tool=${2:+$(readlink -f "$2")}
readonly e2e_pad_client="$e2e_here/pad_client.py"
readonly server_ipv4=192.168.79.1
readonly pad_ipv4=192.168.79.2
readonly server_ipv6=fd00:79::1
readonly pad_ipv6=fd00:79::2

if [[ $(id -u) -ne 0 ]]; then
    echo "skipped: network namespaces need root"
    exit 77
fi
# shellcheck source=../../integration/netns_avahi.sh
source "$e2e_here/../../integration/netns_avahi.sh"

declare -A e2e_client_pid=() e2e_client_feed=()
e2e_server_pid=""
e2e_server_feed=""
e2e_work=""
e2e_server_cwd=""  # the program's working directory; the test's cwd folder unless set
e2e_server_options=()  # the program's options beyond --debug

e2e_fail() {
    echo "FAIL: $*" >&2
    e2e_show_logs >&2
    exit 1
}

e2e_show_logs() {
    local file
    for file in "$e2e_work"/*.out "$e2e_work"/*.err "$e2e_work"/*.log "$(pv_netns_workdir)"/*.log; do
        [[ -f $file ]] || continue
        echo "---- ${file##*/}"
        tail -n 60 "$file"
    done
}

# e2e_exec NAMESPACE COMMAND...: replaces the calling (sub)shell with the command inside the
# namespace, so that a background job's $! is the command itself and signals reach it.
e2e_exec() {
    local anchor=${PV_NETNS_ANCHOR[$1]:-}
    shift
    [[ -n $anchor ]] || exit 1
    exec nsenter --target "$anchor" --mount --net --wd="$PWD" -- "$@"
}

e2e_step() {
    echo "---- $*"
}

# e2e_wait SECONDS COMMAND...: polls until the command succeeds.
e2e_wait() {
    pv_netns_wait_for "$@"
}

# Two namespaces with a veth pair and a responder in each.
e2e_setup_network() {
    pv_netns_init || exit 1
    e2e_work=$(pv_netns_workdir)
    pv_netns_create server || exit 1
    pv_netns_create pad || exit 1
    pv_netns_link server pv0 "$server_ipv4/24" pad pv0 "$pad_ipv4/24" || exit 1
    # nodad: the addresses are usable at once instead of after duplicate detection.
    ip -n "$(pv_netns_name server)" addr add "$server_ipv6/64" dev pv0 nodad || exit 1
    ip -n "$(pv_netns_name pad)" addr add "$pad_ipv6/64" dev pv0 nodad || exit 1
    pv_netns_start_avahi server pv0 || e2e_fail "avahi-daemon did not start for the server"
    # Its own host name keeps the two responders from contesting one name on the link.
    pv_netns_start_avahi pad pv0 pellvane-e2e-pad || e2e_fail "avahi-daemon did not start for the pad"
    mkdir -p "$e2e_work/cwd" "$e2e_work/runtime" "$e2e_work/no-hid/sys/class/hidraw" \
        "$e2e_work/no-hid/dev"
    chmod 700 "$e2e_work/runtime"
}

# Under AddressSanitizer the leak check at exit would blame the DNS-SD library: the program
# unloads it, and what its globals still pointed to looks lost once they are unmapped.
# Preloading it keeps it mapped, so the check still covers everything of ours.
# Under ThreadSanitizer libdbus's own lock order is left out of the reports (tsan.supp).
e2e_sanitizer_env=()
if ldd "$e2e_server_program" 2>/dev/null | grep -q libasan; then
    e2e_sanitizer_env=(LD_PRELOAD=libdns_sd.so.1
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
elif ldd "$e2e_server_program" 2>/dev/null | grep -q libtsan; then
    e2e_sanitizer_env=(TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}suppressions=$e2e_here/tsan.supp")
fi

# e2e_start_server NAME [VAR=VALUE...]: the program in the working directory, with no
# virtual controller and no X display unless the variables point elsewhere. Its output goes
# to NAME.out and NAME.err; its standard input is a pipe that e2e_answer writes to.
e2e_start_server() {
    local name=$1
    shift
    mkfifo "$e2e_work/$name.in"
    exec {e2e_server_feed}<>"$e2e_work/$name.in"
    (
        # env changes directory inside the namespace: nsenter's --wd would keep the folder
        # as the host sees it, beneath any mount that the test made there.
        e2e_exec server env --chdir="${e2e_server_cwd:-$e2e_work/cwd}" -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
            XDG_RUNTIME_DIR="$e2e_work/runtime" \
            PELLVANE_SYSFS_ROOT="$e2e_work/no-hid/sys" PELLVANE_DEV_ROOT="$e2e_work/no-hid/dev" \
            "${e2e_sanitizer_env[@]}" "$@" "$e2e_server_program" --debug "${e2e_server_options[@]}" \
            <"$e2e_work/$name.in" >"$e2e_work/$name.out" 2>"$e2e_work/$name.err"
    ) &
    e2e_server_pid=$!
    PV_NETNS_CHILDREN+=("$e2e_server_pid")
    e2e_wait 10 grep -q '^Channel server port: [1-9]' "$e2e_work/$name.out" ||
        e2e_fail "$name did not show its channel port"
}

# The port of the first "Channel server port" line of NAME.out.
e2e_shown_channel_port() {
    sed -n 's/^Channel server port: \([0-9]*\)$/\1/p' "$e2e_work/$1.out" | head -n 1
}

# e2e_stop_server SIGNAL SECONDS: signals the program and waits for it to end; its exit
# code lands in e2e_server_status.
e2e_server_status=""
e2e_stop_server() {
    local signal=$1 seconds=$2
    kill -s "$signal" "$e2e_server_pid" || e2e_fail "cannot signal the server"
    e2e_wait "$seconds" e2e_server_ended || e2e_fail "the server did not end within $seconds s of $signal"
    wait "$e2e_server_pid"
    e2e_server_status=$?
    exec {e2e_server_feed}>&-
}

e2e_server_ended() {
    ! kill -0 "$e2e_server_pid" 2>/dev/null || [[ $(ps -o stat= -p "$e2e_server_pid") == Z* ]]
}

# The answer to the admission question that is open: "y" or "n". Input that waits before a
# question is put is thrown away, so call it only once the question shows.
e2e_answer() {
    echo "$1" >&"$e2e_server_feed"
}

# How many admission questions NAME.err shows so far.
e2e_question_count() {
    grep -o 'requested to connect, accept connection?' "$e2e_work/$1.err" | wc -l
}

e2e_has_questions() {
    (($(e2e_question_count "$1") >= $2))
}

e2e_wait_for_questions() {
    e2e_wait 10 e2e_has_questions "$1" "$2" || e2e_fail "question $2 did not appear"
}

# The keyboard records of a typed capital A on the server's standard output: Shift (scan code
# 0x2A) then A (0x1E) pressed, then both released in the same order.
readonly e2e_shifted_a=$'SendInput wVk=0x0000 wScan=0x002A dwFlags=0x8
SendInput wVk=0x0000 wScan=0x001E dwFlags=0x8
SendInput wVk=0x0000 wScan=0x002A dwFlags=0xA
SendInput wVk=0x0000 wScan=0x001E dwFlags=0xA'

# What the server "server" typed and beeped so far, a record a line.
e2e_input_lines() {
    grep -E '^(SendInput|Beep) ' "$e2e_work/server.out"
}

# e2e_admitted_tool NAME COMMAND HOST PORT ARGS...: the pad tool says hello, the user admits
# it on the server "server", the tool does its command and ends.
e2e_admitted_tool() {
    local name=$1 command=$2 host=$3 port=$4 questions tool
    shift 4
    questions=$(e2e_question_count server)
    (e2e_exec pad "$e2e_pad_tool" "$command" "$host" "$port" --name "$name" --timeout 20000 "$@" \
        >"$e2e_work/$name.log" 2>&1) &
    tool=$!
    e2e_wait_for_questions server $((questions + 1))
    e2e_answer y
    e2e_wait 20 eval "! kill -0 $tool 2>/dev/null" || e2e_fail "$name did not finish"
    wait "$tool" || e2e_fail "$name failed: $(cat "$e2e_work/$name.log")"
}

# e2e_browse TYPE: "ADDRESS PORT" of each resolved IPv4 announcement that the pad sees.
e2e_browse() {
    pv_netns_exec pad avahi-browse --resolve --parsable --terminate "$1" 2>/dev/null |
        awk -F';' -v type="$1" '$1 == "=" && $3 == "IPv4" && $5 == type { print $8, $9 }' |
        sort -u
}

# e2e_found_port TYPE: waits until the pad sees exactly one announcement of TYPE from the
# server's address and prints its port.
e2e_found_port() {
    local type=$1 deadline=$((SECONDS + 20)) lines
    while ((SECONDS < deadline)); do
        lines=$(e2e_browse "$type" | awk -v address="$server_ipv4" '$1 == address')
        if [[ -n $lines && $(wc -l <<<"$lines") -eq 1 ]]; then
            awk '{ print $2 }' <<<"$lines"
            return 0
        fi
        sleep 0.3
    done
    return 1
}

# e2e_client NAME HOST PORT: a pad_client.py in the pad namespace; its reports go to
# NAME.log, its commands come from e2e_client_send.
e2e_client() {
    local name=$1 host=$2 port=$3 fd
    mkfifo "$e2e_work/$name.in"
    exec {fd}<>"$e2e_work/$name.in"
    e2e_client_feed[$name]=$fd
    (e2e_exec pad python3 -u "$e2e_pad_client" "$host" "$port" \
        <"$e2e_work/$name.in" >"$e2e_work/$name.log" 2>&1) &
    e2e_client_pid[$name]=$!
    PV_NETNS_CHILDREN+=("$!")
    e2e_wait 10 grep -qx connected "$e2e_work/$name.log" || e2e_fail "$name could not connect"
}

e2e_client_send() {
    echo "$2" >&"${e2e_client_feed[$1]}"
}

# e2e_client_saw NAME PATTERN [SECONDS]: waits for a report line matching the pattern.
e2e_client_saw() {
    e2e_wait "${3:-10}" grep -qE "$2" "$e2e_work/$1.log"
}

# e2e_admitted NAME HOST PORT: a client that said hello and was let in (HelloReply, UdpInfo).
e2e_admitted() {
    local name=$1 questions
    questions=$(e2e_question_count server)
    e2e_client "$@"
    e2e_client_send "$name" "hello $name"
    e2e_wait_for_questions server $((questions + 1))
    grep -q "Pellvane Server: $name requested to connect, accept connection? \[y/N\]" \
        "$e2e_work/server.err" || e2e_fail "the question does not name $name"
    e2e_answer y
    e2e_client_saw "$name" '^message 2 ' || e2e_fail "$name got no HelloReply"
    e2e_client_saw "$name" '^message 9 ' || e2e_fail "$name got no UdpInfo"
}

# Runs the pad tool in the pad namespace.
e2e_pad_tool() {
    pv_netns_exec pad "$e2e_pad_tool" "$@"
}
