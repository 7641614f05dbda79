#!/usr/bin/env bash
# Builds a small demo disk image (MBR with FAT32, NTFS and exFAT volumes,
# made by sfdisk, mkfs.vfat, mtools, mkntfs and mkfs.exfat; no root needed)
# and describes it with `ambrel-cli info`.
#   scripts/demo-disk.sh [IMAGE]      (default /tmp/ambrel-demo/demo-disk.img)
set -euo pipefail
cd "$(dirname "$0")/.."
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
img=${1:-/tmp/ambrel-demo/demo-disk.img}
mkdir -p "$(dirname "$img")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

[[ -x build/cli/ambrel-cli ]] || { cmake -S . -B build >/dev/null && cmake --build build -j"$(nproc)" --target ambrel-cli >/dev/null; }

rm -f "$img"
truncate -s 70M "$img"
printf 'label: dos\nstart=2048, size=81920, type=c\nsize=32768, type=7\nsize=16384, type=7\n' |
  sfdisk -q --no-reread --no-tell-kernel "$img" >/dev/null
place() {  # volume-file start
  dd if="$1" of="$img" bs=512 seek="$2" conv=notrunc,sparse status=none
}
starts=($(sfdisk -d "$img" | awk -F'start=' '/start=/ { split($2, a, ","); gsub(/ /, "", a[1]); print a[1] }'))

truncate -s 40M "$work/fat32"
mkfs.vfat -F 32 -s 1 -g 255/63 -h "${starts[0]}" -n DEMO_FAT32 "$work/fat32" >/dev/null
echo "hello from the demo disk" > "$work/hello.txt"
mmd -i "$work/fat32" ::/docs
mcopy -i "$work/fat32" "$work/hello.txt" ::/docs/
# A photo for the preview pane and the picture list (ffmpeg's test card).
if ffmpeg -loglevel error -f lavfi -i testsrc=size=640x480 -frames:v 1 "$work/photo.jpg" 2>/dev/null; then
  mcopy -i "$work/fat32" "$work/photo.jpg" ::/docs/
fi
place "$work/fat32" "${starts[0]}"

truncate -s 16M "$work/ntfs"
mkntfs -q -f -F -p "${starts[1]}" -H 255 -S 63 -L DemoNTFS "$work/ntfs" >/dev/null 2>&1
place "$work/ntfs" "${starts[1]}"

truncate -s 8M "$work/exfat"
mkfs.exfat -L DemoExfat "$work/exfat" >/dev/null
place "$work/exfat" "${starts[2]}"

echo "== ambrel-cli info $img"
build/cli/ambrel-cli info "$img"
