#!/usr/bin/env bash
# Sets up, builds and runs every test: the native suite, the same suite under ASan+UBSan and
# under TSan, the Windows build under Wine, the fuzzers, the DNS-SD and end-to-end tests, and
# the Debian package installed in a fresh Debian root.
# Ends with the native suite's ctest summary; exits non-zero when any stage failed.
# What it starts (an Xvfb, the Wine prefix's wineserver) it stops again, however it ends.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
bash scripts/setup.sh || exit 1
bash scripts/setup.sh --check || exit 1
source scripts/wine-env.sh
source tests/integration/netns_avahi.sh

stop_what_was_started() {
  pellvane_stop_wine
  pellvane_stop_xvfb
  # A test ended by its timeout could not tear down its namespaces, their D-Bus and
  # avahi-daemon; the namespace library deletes what such tests left.
  if [ "$(id -u)" -eq 0 ]; then
    pv_netns_reap_stale
  fi
}
trap stop_what_was_started EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

failed=()
# A stage's command fails with a non-zero exit code, or says with 77 that it was skipped
# (the package install test without root, say); each stage's end line gives its run time.
stage() {
  local name=$1 status=0 started=$SECONDS
  shift
  echo "=== $name"
  "$@" || status=$?
  local took="$(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
  if [ $status -eq 0 ]; then
    echo "=== $name: passed in $took"
  elif [ $status -eq 77 ]; then
    echo "=== $name: skipped"
  else
    failed+=("$name")
    echo "=== $name: FAILED after $took"
  fi
}

configure_and_build() {
  local preset=$1 dir=$2
  cmake --preset "$preset" >/dev/null && cmake --build "$dir" -j2
}

run_ctest() {
  local dir=$1
  shift
  ctest --test-dir "$dir" --output-on-failure --timeout 600 "$@"
}

windows_suite() {
  configure_and_build windows build/windows || return 1
  pellvane_start_xvfb || return 1
  pellvane_prepare_wine_prefix
  run_ctest build/windows
  local status=$?
  pellvane_stop_wine
  pellvane_stop_xvfb
  return $status
}

check_formatting() {
  git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
}

stage "Formatting" check_formatting
stage "Windows build under Wine" windows_suite
stage "ASan+UBSan build" configure_and_build linux-asan build/linux-asan
stage "ASan+UBSan tests" run_ctest build/linux-asan -LE "integration|e2e|vm" -j2
stage "TSan build" configure_and_build linux-tsan build/linux-tsan
stage "TSan tests" env TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" \
  ctest --test-dir build/linux-tsan --output-on-failure --timeout 600 -LE "integration|e2e|vm" -j2
if [ -x fuzz/run-all.sh ]; then
  stage "Fuzzing" fuzz/run-all.sh
fi
stage "Native build" configure_and_build linux build/linux
stage "Native tests" run_ctest build/linux
stage "Debian package install" bash scripts/package-install-test.sh

if [ ${#failed[@]} -gt 0 ]; then
  echo "Failed stages: ${failed[*]}"
  exit 1
fi
