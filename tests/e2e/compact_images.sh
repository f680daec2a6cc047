#!/usr/bin/env bash
# QEMU makes dynamic VHD and VHDX images with all-zero blocks, e2e_compact has Tessel compact
# them, and QEMU must then find their content unchanged.   usage: compact_images.sh E2E.EXE
set -euo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
for format in vpc vhdx; do
    image=$dir/qemu.${format/vpc/vhd}
    qemu-img create -q -f $format -o subformat=dynamic "$image" 64M
    qemu-io -f $format -c 'write -P 0x55 0 1M' -c 'write -P 0 16M 16M' -c 'write -P 0x33 40M 3M' \
        "$image" >/dev/null
    cp --sparse=always "$image" "$image.orig"
done
COMPACT_IMAGES=$dir wine "$1"
qemu-img compare -q -f vpc -F vpc "$dir/qemu.vhd.orig" "$dir/qemu.vhd"
qemu-img compare -q -f vhdx -F vhdx "$dir/qemu.vhdx.orig" "$dir/qemu.vhdx"
