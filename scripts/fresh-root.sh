# Brand-new Debian 12 roots for the tests that install as a newcomer or a user would
# (scripts/fresh-root-test.sh, scripts/package-install-test.sh). Source this file, then:
#
#   pellvane_root_mirror                  prints the bookworm mirror that the apt sources name
#   pellvane_root_make ROOT MIRROR LOG    debootstrap --variant=minbase into ROOT (a folder that
#                                         does not exist yet), its output in LOG
#   pellvane_root_enter [--net] [--own-dev] ROOT COMMAND
#                                         runs COMMAND with bash as root inside ROOT
#
# The root is entered with unshare, a bind mount of the root onto itself and pivot_root,
# with /proc, /sys, /dev, /dev/pts and a tmpfs /run mounted. A plain chroot would not do:
# `ip netns exec` needs the root to be a mount point, and `nsenter` would leave a chroot for
# the machine's own root. COMMAND runs as pid 1 of a process namespace of its own, so that
# nothing it started outlives it. --net gives it a network namespace of its own with only
# loopback, up and with multicast on (for an avahi-daemon on lo); --own-dev a /dev of its own
# with only the harmless nodes (null, zero, full, random, urandom, tty, a new pts), so that
# nothing inside reaches the machine's input devices.

# The mirror of the first deb822 stanza (a paragraph of "Field: value" lines) whose types
# include deb and whose suites include bookworm itself.
pellvane_root_deb822_mirror() {
  local line types="" suites="" uris=""
  while IFS= read -r line || [ -n "$line" ]; do
    case $line in
      "#"*) continue ;;
      Types:*) types=${line#Types:} ;;
      Suites:*) suites=${line#Suites:} ;;
      URIs:*) uris=${line#URIs:} ;;
    esac
    if [ -z "${line//[[:space:]]/}" ]; then
      types="" suites="" uris=""
    elif [[ " $types " == *" deb "* && " $suites " == *" bookworm "* && -n ${uris// /} ]]; then
      set -- $uris
      echo "$1"
      return 0
    fi
  done
  return 1
}

# The first Debian mirror that the apt sources name for bookworm, in either source format.
pellvane_root_mirror() {
  local file
  {
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -f "$file" ] || continue
      awk '$1 == "deb" {
        for (i = 2; i < NF; i++) if ($i ~ /^[a-z]+:\/\// && $(i + 1) == "bookworm") { print $i; exit }
      }' "$file"
    done
    for file in /etc/apt/sources.list.d/*.sources; do
      [ -f "$file" ] || continue
      pellvane_root_deb822_mirror <"$file" || true
    done
  } | head -n 1
}

pellvane_root_make() {
  local root=$1 mirror=$2 log=$3
  debootstrap --variant=minbase bookworm "$root" "$mirror" >"$log" 2>&1 || return 1
  # What an installed Debian has and a debootstrapped root lacks.
  cat >"$root/etc/hosts" <<'HOSTS'
127.0.0.1	localhost
::1		localhost ip6-localhost ip6-loopback
ff02::1		ip6-allnodes
ff02::2		ip6-allrouters
HOSTS
}

pellvane_root_enter() {
  local net="" own_dev="" unshare_options=(--mount --propagation private --pid --fork)
  while :; do
    case $1 in
      --net) net=yes; unshare_options+=(--net) ;;
      --own-dev) own_dev=yes ;;
      *) break ;;
    esac
    shift
  done
  local root=$1 command=$2
  # Runs with the machine's tools, in the new namespaces, until pivot_root.
  local inside='
    set -u
    root=$1 net=$2 own_dev=$3 command=$4
    if [ -n "$net" ]; then
      ip link set lo up && ip link set lo multicast on || exit 1
    fi
    mount --bind "$root" "$root"
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    if [ -n "$own_dev" ]; then
      mount -t tmpfs -o mode=0755,nosuid tmpfs "$root/dev"
      for node in null zero full random urandom tty; do
        : >"$root/dev/$node"
        mount --bind "/dev/$node" "$root/dev/$node"
      done
      mkdir "$root/dev/pts" "$root/dev/shm"
      mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
      ln -s pts/ptmx "$root/dev/ptmx"
      mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"
      ln -s /proc/self/fd "$root/dev/fd"
      ln -s /proc/self/fd/0 "$root/dev/stdin"
      ln -s /proc/self/fd/1 "$root/dev/stdout"
      ln -s /proc/self/fd/2 "$root/dev/stderr"
    else
      mount --rbind /dev "$root/dev"
      mountpoint -q "$root/dev/pts" || mount -t devpts devpts "$root/dev/pts"
    fi
    mount -t tmpfs -o mode=0755 tmpfs "$root/run"
    cd "$root"
    mkdir -p .old-root
    pivot_root . .old-root
    umount -l /.old-root
    rmdir /.old-root
    exec chroot . /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" LANG=C.UTF-8 \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c "$command"
  '
  unshare "${unshare_options[@]}" -- /bin/sh -c "$inside" fresh-root "$root" "$net" "$own_dev" \
    "$command"
}
