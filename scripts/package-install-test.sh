#!/usr/bin/env bash
# Installs the Debian package as a user does, on a brand-new Debian 12: builds it
# (scripts/build-package.sh, lintian included), makes a minimal root with debootstrap and
# there runs `apt-get install ./pellvane-server_*.deb` with nothing installed before, which
# must bring in the dependencies. Then, in a network namespace of the root's own (loopback
# only) with a D-Bus system bus and an avahi-daemon on lo, the installed program must
# publish both services, `pellvane-pad browse` must see them and a `pellvane-pad type` must
# be admitted on the program's terminal (a pipe that answers the question) and typed. At
# last `apt-get purge` must leave no file of those that `dpkg -L` listed.
#
#   sudo bash scripts/package-install-test.sh
#
# The root as debootstrap made it is kept in build/package-root-cache.tar and reused (delete
# the file for a new one); each run unpacks a fresh copy into /var/tmp and removes it. The
# mirror is the one that this machine's apt sources name. Exit code 77: skipped, when not
# run as root or when no mirror answers; with CI=true those fail instead.
set -euo pipefail

# Inside the root: /srv/package-test holds this script, the package and the test's files.
readonly work_inside=/srv/package-test

say() {
  echo "package-install-test: $*" >&2
}

fail() {
  say "FAILED: $*"
  exit 1
}

# wait_until SECONDS COMMAND...
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# In the root, with the machine's network: the install as a user types it.
inside_install() {
  # A root has no init system to start services in; left to themselves, the maintainer
  # scripts would start an avahi-daemon that announces on the machine's network.
  printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
  chmod 755 /usr/sbin/policy-rc.d
  export DEBIAN_FRONTEND=noninteractive
  if ! apt-get update -q >apt-update.log 2>&1; then
    cat apt-update.log >&2
    say "apt-get update failed: no mirror answers"
    exit 77
  fi
  apt-get install -y -q ./pellvane-server_*.deb >apt-install.log 2>&1 ||
    { cat apt-install.log >&2; fail "apt-get install of the package"; }
  local package
  for package in libavahi-compat-libdnssd1 avahi-daemon dbus libx11-6 libsystemd0; do
    installed "$package" || fail "$package did not come with the package"
  done
  dpkg -L pellvane-server >package-files
  local program
  for program in pellvane-server pellvane-pad pellvane-vpad; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not in /usr/bin"
    [ -f "/usr/share/man/man1/$program.1.gz" ] || fail "no manual page for $program"
  done
  pellvane-server --help | grep -q "^Usage: pellvane-server" || fail "pellvane-server --help"
  pellvane-pad --help | grep -q "^Usage:" || fail "pellvane-pad --help"
  pellvane-vpad --help | grep -q "^Usage: pellvane-vpad" || fail "pellvane-vpad --help"
  # Debian 12's /lib is /usr/lib (merged /usr), but dpkg knows each file by the package's path.
  [ -f /lib/udev/rules.d/70-pellvane.rules ] || fail "the udev rule is not in /lib/udev/rules.d"
  grep -qx /lib/udev/rules.d/70-pellvane.rules package-files ||
    fail "the package does not put the udev rule in /lib/udev/rules.d"
  grep -qx uinput /usr/lib/modules-load.d/pellvane-server.conf ||
    fail "uinput is not loaded at boot"
  say "installed with its dependencies; the programs, the rule and the manual pages are there"
}

daemon_pids=()

start_bus_and_avahi() {
  source ./netns_avahi.sh
  mkdir -p /run/dbus
  dbus-daemon --system --nofork --nopidfile --nosyslog >dbus.log 2>&1 &
  daemon_pids+=($!)
  wait_until 10 test -S /run/dbus/system_bus_socket || { cat dbus.log >&2; fail "D-Bus did not start"; }
  pv_netns_write_avahi_config avahi-daemon.conf lo ""
  avahi-daemon -f avahi-daemon.conf --no-chroot --no-proc-title >avahi.log 2>&1 &
  daemon_pids+=($!)
  wait_until 20 grep -qs "Server startup complete" avahi.log ||
    { cat avahi.log >&2; fail "avahi-daemon did not start"; }
}

stop_daemons() {
  local pid
  for pid in "${daemon_pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}

show_server_logs() {
  say "the program's standard output:"
  cat run/server.out >&2
  say "its standard error:"
  cat run/server.err >&2
}

# In the root's own network namespace: the installed program on a loopback-only avahi.
inside_run_program() {
  start_bus_and_avahi
  mkdir run
  mkfifo run/answers
  # Held open for writing, so that the program's standard input stays open between answers.
  exec 3<>run/answers
  (cd run && exec pellvane-server --terminal <answers >server.out 2>server.err) &
  local server=$!
  wait_until 20 grep -qs "^Channel server port: " run/server.out ||
    { show_server_logs; fail "the program did not start its channel service"; }

  local services pad_host pad_port
  wait_until 20 eval 'services=$(pellvane-pad browse --wait 1500) &&
    grep -q "^pad	" <<<"$services" && grep -q "^channel	" <<<"$services"' ||
    { echo "$services" >&2; show_server_logs; fail "browse does not see both services"; }
  read -r pad_host pad_port < <(awk -F'\t' '$1 == "pad" { print $3, $4; exit }' <<<"$services")
  say "pellvane-pad browse sees the pad service at $pad_host port $pad_port and the channel service"

  pellvane-pad type "$pad_host" "$pad_port" --name "Package test" "hello" >pad.out 2>&1 &
  local pad=$!
  wait_until 20 grep -qs "Package test requested to connect" run/server.err ||
    { cat pad.out >&2; show_server_logs; fail "the program did not ask about the pad"; }
  echo y >&3
  wait "$pad" || { cat pad.out >&2; show_server_logs; fail "pellvane-pad type was not admitted"; }
  # No /dev/uinput in here: the keys are printed, a press and a release for each letter.
  wait_until 10 eval '[ "$(grep -c "^SendInput " run/server.out)" -ge 10 ]' ||
    { show_server_logs; fail "the typed text did not arrive"; }
  say "pellvane-pad type was admitted on the program's terminal and its keys arrived"

  kill -TERM "$server"
  wait "$server" || { show_server_logs; fail "the program did not quit cleanly"; }
  exec 3>&-
  stop_daemons
}

# Every file of the package must be gone; a folder may stay if it is not empty or another
# package owns it.
inside_purge() {
  export DEBIAN_FRONTEND=noninteractive
  apt-get purge -y -q pellvane-server >apt-purge.log 2>&1 ||
    { cat apt-purge.log >&2; fail "apt-get purge"; }
  ! installed pellvane-server || fail "still installed after the purge"
  local path left=()
  while IFS= read -r path; do
    [ "$path" != "/." ] || continue
    # A folder of the package may be a link to one (/lib is /usr/lib in Debian 12).
    if [ -d "$path" ]; then
      if [ -z "$(ls -A "$path")" ] && ! dpkg -S "$path" >/dev/null 2>&1; then
        left+=("$path (an empty folder)")
      fi
    elif [ -e "$path" ] || [ -L "$path" ]; then
      left+=("$path")
    fi
  done <package-files
  if compgen -G "/var/lib/dpkg/info/pellvane-server.*" >/dev/null; then
    left+=(/var/lib/dpkg/info/pellvane-server.*)
  fi
  [ ${#left[@]} -eq 0 ] || { printf '  %s\n' "${left[@]}" >&2; fail "the purge left these"; }
  say "apt-get purge left no file of the package ($(wc -l <package-files) paths checked)"
}

if [ "${1:-}" = --inside ]; then
  cd "$work_inside"
  case $2 in
    install) inside_install ;;
    run) inside_run_program && inside_purge ;;
  esac
  exit 0
fi

# On the machine.
cd "$(dirname "$0")/.."
source scripts/fresh-root.sh

skip() {
  if [ "${CI:-}" = true ]; then
    fail "$* (CI must run this test)"
  fi
  say "skipped: $*"
  exit 77
}

[ "$(id -u)" -eq 0 ] || skip "needs root"
cache=$PWD/build/package-root-cache.tar
started=$SECONDS
package=$(bash scripts/build-package.sh) || fail "the package did not build or lintian found faults"
say "built and checked by lintian: ${package##*/}"

root=$(mktemp -d /var/tmp/pellvane-package-root.XXXXXX)
clean_up() {
  # The mounts lived in the entered namespaces and ended with them.
  rm -rf --one-file-system "$root" "$root.debootstrap.log"
}
trap clean_up EXIT

if [ -f "$cache" ]; then
  tar --numeric-owner -xpf "$cache" -C "$root"
  say "a fresh copy of the cached root ($cache)"
else
  mirror=$(pellvane_root_mirror)
  [ -n "$mirror" ] || skip "no bookworm mirror in the apt sources"
  rmdir "$root"
  say "making a minimal Debian 12 from $mirror (once; kept in $cache)"
  if ! pellvane_root_make "$root" "$mirror" "$root.debootstrap.log"; then
    tail -n 20 "$root.debootstrap.log" >&2
    skip "debootstrap cannot make a root from $mirror"
  fi
  mkdir -p "${cache%/*}"
  tar --numeric-owner -cpf "$cache.part" -C "$root" . && mv "$cache.part" "$cache"
  say "root made and cached in $((SECONDS - started)) s"
fi

mkdir -p "$root$work_inside"
cp "$package" scripts/package-install-test.sh tests/integration/netns_avahi.sh "$root$work_inside/"
inside="bash $work_inside/package-install-test.sh --inside"
status=0
pellvane_root_enter --own-dev "$root" "$inside install" || status=$?
[ $status -ne 77 ] || skip "no mirror answers for the package's dependencies"
[ $status -eq 0 ] || fail "the install in the fresh root"
pellvane_root_enter --net --own-dev "$root" "$inside run" || fail "the installed program"
say "PASSED in $((SECONDS - started)) s"
