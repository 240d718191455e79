#!/usr/bin/env bash
# Runs build/linux/bench/slow_link_bench in a network namespace of its own (as root), whose
# loopback carries what the pad service sends at 2 Mbit/s: a pad on a weak Wi-Fi. Nothing
# leaves the namespace.
#   bench/slow_link_bench.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/linux}
bench=$build/bench/slow_link_bench
[ -x "$bench" ] || { echo "slow_link_bench: $bench is missing; build the linux preset" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "slow_link_bench: needs root for its network namespace" >&2; exit 1; }

shape=$(mktemp)
trap 'rm -f "$shape"' EXIT
# The service's own port goes through a 2 Mbit/s bucket; everything else on loopback (the
# loop's waker, DNS-SD) does not wait behind it.
cat >"$shape" <<'SHAPE'
#!/usr/bin/env bash
set -e
tc qdisc add dev lo root handle 1: htb default 10
tc class add dev lo parent 1: classid 1:10 htb rate 10gbit quantum 60000
tc class add dev lo parent 1: classid 1:30 htb rate 2mbit ceil 2mbit
tc filter add dev lo parent 1: protocol ip u32 match ip sport "$1" 0xffff flowid 1:30
SHAPE
chmod +x "$shape"
exec unshare --net bash -c 'ip link set lo up && PELLVANE_SHAPE_COMMAND="$0" "$1"' "$shape" "$bench"
