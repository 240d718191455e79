#!/usr/bin/env bash
# Runs the README's test command on a brand-new Debian 12, as a newcomer's first run would:
# makes a minimal root with debootstrap, clones this repository into it and runs
# `bash .ci/run` there as root. For whoever changes scripts/setup.sh; not part of CI (it
# runs the whole CI inside: count 30 to 60 minutes).
#
#   sudo bash scripts/fresh-root-test.sh [--keep] [--mirror URL] [--dir DIR]
#
# The clone is of the commit checked out here; changes not committed are not in it.
# --keep leaves the root in place afterwards; --dir says where to make it (a folder that does
# not exist yet, on a file system that allows devices and programs); --mirror overrides the
# Debian mirror, which is otherwise the one that this machine's apt sources name.
#
# The root is made and entered as scripts/fresh-root.sh describes; the run's process
# namespace of its own lets it tell afterwards whether anything it started still runs.
set -euo pipefail

repository=$(cd "$(dirname "$0")/.." && pwd)
source "$repository/scripts/fresh-root.sh"
keep=""
mirror=""
root=""

say() {
  echo "fresh-root-test: $*" >&2
}

usage() {
  sed -n '/^#   sudo/s/^#   //p' "$0" >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case $1 in
    --keep) keep=yes ;;
    --mirror) mirror=${2:?}; shift ;;
    --dir) root=${2:?}; shift ;;
    *) usage ;;
  esac
  shift
done

[ "$(id -u)" -eq 0 ] || { say "must run as root"; exit 1; }
for tool in debootstrap git unshare pivot_root mount; do
  command -v "$tool" >/dev/null || { say "needs $tool (apt-get install debootstrap git util-linux mount)"; exit 1; }
done
[ -n "$mirror" ] || mirror=$(pellvane_root_mirror)
[ -n "$mirror" ] || { say "no bookworm mirror in the apt sources; give one with --mirror"; exit 1; }
commit=$(git -C "$repository" rev-parse HEAD)
if [ -n "$(git -C "$repository" status --porcelain)" ]; then
  say "the checkout has changes that are not committed; the clone has commit $commit only"
fi

if [ -z "$root" ]; then
  root=$(mktemp -d /var/tmp/pellvane-fresh-root.XXXXXX)
  rmdir "$root"
fi
[ ! -e "$root" ] || { say "$root exists already"; exit 1; }

clean_up() {
  if [ -z "$keep" ] && [ -d "$root" ]; then
    # The mounts lived in the run's own mount namespace and ended with it.
    rm -rf --one-file-system "$root"
  elif [ -d "$root" ]; then
    say "the root stays in $root"
  fi
}
trap clean_up EXIT

started=$SECONDS
say "making a minimal Debian 12 in $root from $mirror"
pellvane_root_make "$root" "$mirror" "$root.debootstrap.log" || {
  tail -n 30 "$root.debootstrap.log" >&2
  say "debootstrap failed; its log is $root.debootstrap.log"
  exit 1
}
rm -f "$root.debootstrap.log"
say "root made in $((SECONDS - started)) s"

git clone --quiet --no-checkout "$repository" "$root/root/pellvane"
git -C "$root/root/pellvane" checkout --quiet --detach "$commit"
say "clone of $commit in /root/pellvane"

# Inside: pid 1 of the new process namespace runs the test command, then lists what of the
# processes the run started is still there (it should be nothing).
inside='
  cd /root/pellvane && CI=true bash .ci/run </dev/null
  status=$?
  sleep 1
  left=$(for name in Xvfb wineserver avahi dbus-daemon; do pgrep -a $name; done)
  if [ -n "$left" ]; then
    echo "fresh-root-test: still running after the test command:"
    echo "$left"
    [ $status -ne 0 ] || status=1
  fi
  exit $status
'
say "running the test command in the root"
tested=$SECONDS
status=0
pellvane_root_enter "$root" "$inside" || status=$?
minutes=$(((SECONDS - tested + 30) / 60))
if [ $status -eq 0 ]; then
  say "PASSED: the test command passed in a fresh root in $minutes min"
else
  say "FAILED: the test command ended with $status in a fresh root after $minutes min"
fi
exit $status
