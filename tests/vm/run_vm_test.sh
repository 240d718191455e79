#!/usr/bin/env bash
# pellvane-server, pellvane-vpad and a pad on a real Linux kernel. Debian's kernel package
# (linux-image-amd64 and the image it depends on) is fetched with apt-get download and
# unpacked with dpkg-deb -x, so nothing is installed as this machine's kernel; the kernel
# and the modules hid, hid-generic, uhid, uinput and evdev (with what they depend on, from
# modules.dep) are kept in the cache folder. Each run packs an initramfs of busybox, those
# modules, the programs and the shared libraries they need, and boots it under QEMU;
# vm_init.sh is its /init and makes the checks. On failure the serial console is printed.
#
#   run_vm_test.sh --server PROGRAM --vpad PROGRAM --pad PROGRAM --watch PROGRAM
#                  --dnssd LIBRARY --cache FOLDER [--keep]
# Exit code 0 passed, 1 failed, 77 skipped (a tool or the kernel package is missing).
set -uo pipefail

here=$(dirname "$(readlink -f "$0")")
modules=(hid hid-generic uhid uinput evdev)
keep=""
declare -A program=()
while (($#)); do
    case $1 in
        --server | --vpad | --pad | --watch | --dnssd | --cache)
            program[${1#--}]=$(readlink -f "$2")
            shift 2
            ;;
        --keep)
            keep=yes
            shift
            ;;
        *)
            echo "run_vm_test: unknown argument $1" >&2
            exit 2
            ;;
    esac
done
for name in server vpad pad watch dnssd cache; do
    [[ -n ${program[$name]:-} ]] || { echo "run_vm_test: --$name is missing" >&2; exit 2; }
done

skip() {
    echo "skipped: $*"
    exit 77
}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

for tool in qemu-system-x86_64 cpio depmod dpkg-deb apt-get gzip strip ldd; do
    command -v "$tool" >/dev/null || skip "$tool is missing (scripts/setup.sh installs it)"
done
# busybox-static's; a dynamically linked busybox would need its libraries in the image.
[[ -x /bin/busybox ]] && ! ldd /bin/busybox >/dev/null 2>&1 || skip "no static /bin/busybox"

work=$(mktemp -d "${TMPDIR:-/tmp}/pellvane-vm.XXXXXX")
clean_up() {
    if [[ -n $keep ]]; then
        echo "kept $work"
    else
        rm -rf "$work"
    fi
}
trap clean_up EXIT

cache=${program[cache]}

# Fills the cache: vmlinuz, the modules and modules.load, the order to load them in.
fetch_kernel() {
    local download=$work/download meta image version
    mkdir -p "$download" "$cache"
    (cd "$download" && apt-get download -q linux-image-amd64) >"$work/download.log" 2>&1 ||
        return 1
    meta=$(ls "$download"/linux-image-amd64_*.deb)
    image=$(dpkg-deb -f "$meta" Depends | sed -n 's/^\(linux-image-[^ ,]*\).*/\1/p')
    [[ -n $image ]] || return 1
    (cd "$download" && apt-get download -q "$image") >>"$work/download.log" 2>&1 || return 1
    dpkg-deb -x "$download/$image"_*.deb "$download/root" || return 1
    version=$(ls "$download/root/lib/modules")
    depmod -b "$download/root" "$version" || return 1
    rm -rf "$cache/modules" && mkdir -p "$cache/modules"
    cp "$download/root/boot/vmlinuz-$version" "$cache/vmlinuz" || return 1
    module_order "$download/root/lib/modules/$version" >"$cache/modules/modules.load" || return 1
    local module
    while read -r module; do
        cp "$download/root/lib/modules/$version/$module" "$cache/modules/" || return 1
    done <"$cache/modules/modules.load"
    sed -i 's|.*/||' "$cache/modules/modules.load"
    echo "$image" >"$cache/ready"
    rm -rf "$download"
}

# module_order MODULES_FOLDER: the paths of the wanted modules and all they depend on,
# each after its dependencies.
module_order() {
    local folder=$1 line path
    declare -A depends=() path_of=() listed=()
    while IFS= read -r line; do
        path=${line%%:*}
        depends[$path]=${line#*:}
        path_of[$(basename "${path%%.ko*}")]=$path
    done <"$folder/modules.dep"
    list_module() {
        local module=$1 dependency
        [[ -z ${listed[$module]:-} ]] || return 0
        listed[$module]=yes
        for dependency in ${depends[$module]}; do
            list_module "$dependency"
        done
        echo "$module"
    }
    local name
    for name in "${modules[@]}"; do
        [[ -n ${path_of[$name]:-} ]] || { echo "no module $name" >&2; return 1; }
        list_module "${path_of[$name]}"
    done
}

# copy_with_libraries FILE DESTINATION: FILE (without debug information) and every shared
# library it needs, the latter at their own paths inside the image.
copy_with_libraries() {
    local file=$1 destination=$2 library
    mkdir -p "$(dirname "$root$destination")"
    strip --strip-debug -o "$root$destination" "$file" || return 1
    for library in $(ldd "$file" | awk '/=> \// { print $3 } /^\t\// { print $1 }'); do
        [[ -e $root$library ]] || cp -L --parents "$library" "$root" || return 1
    done
}

if [[ ! -f $cache/ready ]]; then
    echo "---- fetching Debian's kernel into $cache"
    fetch_kernel || { cat "$work/download.log"; skip "cannot fetch linux-image-amd64"; }
fi
echo "---- kernel package $(cat "$cache/ready")"

root=$work/root
mkdir -p "$root/bin" "$root/lib/modules" "$root/opt/pellvane/bin" "$root/opt/pellvane/lib"
cp /bin/busybox "$root/bin/busybox" || fail "cannot copy busybox"
install -m 755 "$here/vm_init.sh" "$root/init" || fail "cannot copy the init script"
cp "$cache"/modules/* "$root/lib/modules/" || fail "cannot copy the modules"
copy_with_libraries "${program[server]}" /opt/pellvane/bin/pellvane-server &&
    copy_with_libraries "${program[vpad]}" /opt/pellvane/bin/pellvane-vpad &&
    copy_with_libraries "${program[pad]}" /opt/pellvane/bin/vm-pad &&
    copy_with_libraries "${program[watch]}" /opt/pellvane/bin/vm-evdev-watch &&
    copy_with_libraries "${program[dnssd]}" /opt/pellvane/lib/libdns_sd.so.1 ||
    fail "cannot copy the programs and their libraries"
(cd "$root" && find . -print0 | cpio --null -o -H newc --quiet) | gzip -1 >"$work/initrd.gz" ||
    fail "cannot pack the initramfs"

# boot_vm SECONDS ACCELERATOR INITRD CONSOLE_LOG: boots the kernel with INITRD, console to
# CONSOLE_LOG; the exit code is timeout's (124 when the VM did not end in time).
boot_vm() {
    timeout "$1" qemu-system-x86_64 -nodefaults -no-reboot -display none -serial stdio \
        -accel "$2" -m 512 -kernel "$cache/vmlinuz" -initrd "$3" \
        -append "console=ttyS0 panic=-1 quiet" </dev/null >"$4" 2>&1
}

# A /dev/kvm that opens does not prove that KVM works: nested in a VM without VMX, QEMU's
# default CPU hangs without a word. So KVM is used only when a VM of the same kernel, whose
# /init prints a marker and powers off, boots with it within a few seconds; else TCG.
readonly probe_seconds=6
probe_marker="PELLVANE-VM-PROBE: booted"
choose_accelerator() {
    accelerator=tcg
    if [[ ! -w /dev/kvm ]]; then
        reason="/dev/kvm cannot be opened for writing"
        return
    fi
    local probe=$work/probe status
    mkdir -p "$probe/root/bin"
    cp /bin/busybox "$probe/root/bin/busybox" &&
        printf '#!/bin/busybox sh\n%s\n%s\n%s\n' \
            "/bin/busybox mount -t devtmpfs devtmpfs /dev" \
            "echo '$probe_marker' >/dev/console" \
            "/bin/busybox poweroff -f" >"$probe/root/init" &&
        chmod 755 "$probe/root/init" &&
        (cd "$probe/root" && find . -print0 | cpio --null -o -H newc --quiet) |
        gzip -1 >"$probe/initrd.gz" || fail "cannot pack the probe's initramfs"
    local started=$SECONDS
    boot_vm "$probe_seconds" kvm "$probe/initrd.gz" "$probe/console.log"
    status=$?
    if grep -aq "^$probe_marker" <(tr -d '\r' <"$probe/console.log"); then
        accelerator=kvm
        reason="a probe VM booted with KVM in $((SECONDS - started)) s"
    elif ((status == 124)); then
        reason="a probe VM with KVM did not boot within $probe_seconds s"
    else
        reason="a probe VM with KVM failed: $(tr -d '\r' <"$probe/console.log" | grep -av '^$' |
            head -n 1)"
    fi
}

choose_accelerator
echo "---- booting ($accelerator: $reason)"
started=$SECONDS
boot_vm 300 "$accelerator" "$work/initrd.gz" "$work/console.log"
status=$?
echo "---- the VM ran for $((SECONDS - started)) s"
if grep -aq "^PELLVANE-VM: PASS" <(tr -d '\r' <"$work/console.log"); then
    exit 0
fi
echo "---- serial console"
tr -d '\r' <"$work/console.log"
((status == 124)) && fail "the VM did not end within 300 s"
fail "the checks in the VM did not pass"
