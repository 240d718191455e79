#!/usr/bin/env bash
# What the running program costs while nobody uses it: both services started, no client.
# Prints its CPU share and wake-ups per second over a quiet window, and its resident memory.
# Usage: bench/program_idle_bench.sh [BUILD_DIR] [SECONDS]
# The test DNS-SD library stands in for avahi, so the figures are the program's own.
set -euo pipefail
build=${1:-build/linux}
window=${2:-10}
server=$build/pellvane-server
fake=$build/tests/bin/libfake_dnssd.so
for file in "$server" "$fake"; do
  [ -e "$file" ] || { echo "program_idle_bench: $file is missing; build the linux preset" >&2; exit 1; }
done
server=$(realpath "$server")
fake=$(realpath "$fake")

work=$(mktemp -d)
cleanup() {
  [ -n "${pid:-}" ] && kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  exec 3>&- 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ln -s "$fake" "$work/libdns_sd.so.1"
mkfifo "$work/input"

# Standard input stays open (the admission question reads it), and the run happens in a
# folder of its own, where the marker file may go.
(cd "$work" && LD_LIBRARY_PATH="$work" XDG_RUNTIME_DIR="$work" \
  exec "$server" <"$work/input" >"$work/output" 2>"$work/errors") &
pid=$!
exec 3>"$work/input"
for _ in $(seq 50); do grep -q "Channel server port" "$work/output" 2>/dev/null && break; sleep 0.1; done
grep -q "Channel server port" "$work/output" || { echo "program_idle_bench: the program did not start" >&2; cat "$work/errors" >&2; exit 1; }
sleep 1

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
switches() {
  cat /proc/"$pid"/task/*/status | awk '/^(voluntary|nonvoluntary)_ctxt_switches/ {n += $2} END {print n}'
}
start_cpu=$(cpu_ticks)
start_switches=$(switches)
sleep "$window"
end_cpu=$(cpu_ticks)
end_switches=$(switches)
rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
threads=$(ls "/proc/$pid/task" | wc -l)

awk -v c=$((end_cpu - start_cpu)) -v t="$ticks" -v w="$window" -v s=$((end_switches - start_switches)) \
    -v r="$rss" -v n="$threads" 'BEGIN {
  printf "%-52s %12.3f %%\n", "idle program, both services: CPU share of one core", 100 * c / t / w
  printf "%-52s %12.2f /s\n", "idle program, both services: wake-ups", s / w
  printf "%-52s %12d KiB\n", "idle program: resident memory", r
  printf "%-52s %12d\n", "idle program: threads", n
}'
