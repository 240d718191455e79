#!/usr/bin/env bash
# Creates a hidraw device tree of plain files that the Linux HID layer reads when
# PELLVANE_SYSFS_ROOT=<root>/sys and PELLVANE_DEV_ROOT=<root>/dev: the virtual controller's
# two collections (vendor 0x00FF, product 0xBACC, usage page 0xFF00) as hidraw0 (usage 1,
# takes the output reports) and hidraw1 (usage 2). Every report written lands in
# <root>/dev/hidraw0, 65 bytes each.
#
# Usage: make-fake-hid-tree.sh <root>      (prints the two export lines)
set -eu
if [ $# -ne 1 ]; then
  echo "usage: $0 <root>" >&2
  exit 2
fi
root=$1

# Usage 1 has a 64-byte output report, usage 2 a 64-byte input report.
descriptor_usage1='\x06\x00\xff\x09\x01\xa1\x01\x15\x00\x26\xff\x00\x75\x08\x95\x40\x09\x01\x91\x02\xc0'
descriptor_usage2='\x06\x00\xff\x09\x02\xa1\x01\x15\x00\x26\xff\x00\x75\x08\x95\x40\x09\x02\x81\x02\xc0'

make_node() {
  local node=$1 descriptor=$2
  local device="$root/sys/class/hidraw/$node/device"
  mkdir -p "$device" "$root/dev"
  cat > "$device/uevent" <<UEVENT
DRIVER=hid-generic
HID_ID=0003:000000FF:0000BACC
HID_NAME=Pellvane Virtual Controller
HID_PHYS=
HID_UNIQ=
MODALIAS=hid:b0003g0001v000000FFp0000BACC
UEVENT
  printf "$descriptor" > "$device/report_descriptor"
  : > "$root/dev/$node"
}

make_node hidraw0 "$descriptor_usage1"
make_node hidraw1 "$descriptor_usage2"
echo "export PELLVANE_SYSFS_ROOT=$root/sys"
echo "export PELLVANE_DEV_ROOT=$root/dev"
