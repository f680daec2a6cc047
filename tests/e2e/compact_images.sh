#!/usr/bin/env bash
# QEMU makes dynamic VHD and VHDX images with all-zero blocks, e2e_compact has Tessel compact
# them; they must shrink and QEMU find their content unchanged.   usage: compact_images.sh EXE
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
for image in "$dir"/qemu.vhd "$dir"/qemu.vhdx; do
    qemu-img compare -q "$image.orig" "$image"
    [ "$(stat -c %s "$image")" -lt "$(stat -c %s "$image.orig")" ]
done
