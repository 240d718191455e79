#!/usr/bin/env bash
# Builds the fuzz targets with the linux-fuzz preset and runs each one for a bounded time,
# starting from its committed seed corpus. Fails when any target reports a crash, a leak,
# a timeout or a sanitizer error.
#
#   fuzz/run-all.sh [SECONDS]        seconds per target, default 30 (or FUZZ_SECONDS)
#   FUZZ_BUILD_DIR=dir               build somewhere other than build/linux-fuzz
#   FUZZ_TARGETS="a b"               run only these targets
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${FUZZ_SECONDS:-30}}
build=${FUZZ_BUILD_DIR:-$root/build/linux-fuzz}
jobs=${FUZZ_JOBS:-2}

cd "$root" || exit 1
cmake --preset linux-fuzz -B "$build" >/dev/null || exit 1
cmake --build "$build" --target pellvane_fuzz_all -j "$jobs" || exit 1

# A small quarantine: the targets allocate whole messages in every run, and with ASan's
# default of 256 MB each run touches fresh pages (a third of the time went to page faults).
# A use after free within a run is still caught. Allocation stacks are kept 8 frames deep
# (30 by default): unwinding at every allocation was a fifth of the intake targets' time.
# To see whole stacks, run the target on the artifact it wrote, with ASan's defaults.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:quarantine_size_mb=16:malloc_context_size=8}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
artifacts=$build/fuzz/artifacts
mkdir -p "$artifacts"
targets=${FUZZ_TARGETS:-$(cd "$build/fuzz/bin" && ls -- *_fuzz)}
failed=0
for name in $targets; do
  program=$build/fuzz/bin/$name
  seeds=$root/fuzz/corpus/$name
  # New inputs go to a scratch corpus; the committed seeds are only read.
  scratch=$(mktemp -d)
  log=$artifacts/$name.log
  echo "fuzz: $name for ${seconds}s"
  # -close_fd_mask=1: the targets' own standard output (HID console lines) is not needed.
  "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -close_fd_mask=1 \
    -artifact_prefix="$artifacts/$name-" "$scratch" "$seeds" >"$log" 2>&1
  status=$?
  rm -rf "$scratch"
  if [ $status -ne 0 ] || grep -qE "ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|==ERROR" "$log"; then
    echo "fuzz: $name FAILED (exit $status); log: $log" >&2
    grep -E "ERROR|runtime error|SUMMARY|Test unit written" "$log" | head -20 >&2
    failed=1
  else
    echo "fuzz: $name ok, $(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$') runs"
  fi
done
exit $failed
