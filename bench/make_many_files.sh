#!/usr/bin/env bash
# Builds a volume image holding many small files with the file system's own
# tools: FILES files of 64 B to 16 KiB spread over FOLDERS folders, and
# every tenth file deleted afterwards.
#   bench/make_many_files.sh ntfs|fat32|exfat IMAGE [FILES] [FOLDERS]
# NTFS is filled through a FUSE mount of the image file (ntfs-3g), exFAT
# through exfat-fuse on a loop device (it takes only block devices: needs
# root and /dev/fuse), FAT32 through mtools without any mount. The image
# takes its name only when it is complete.
set -euo pipefail
kind="$1" image="$2" files="${3:-100000}" folders="${4:-1000}"
export MTOOLS_SKIP_CHECK=1 LC_ALL=C
work="$(mktemp -d)"
loop=""
trap 'mountpoint -q "$work/mnt" 2>/dev/null && fusermount -u "$work/mnt"; [ -n "$loop" ] && losetup -d "$loop"; rm -rf "$work" "$image.part"' EXIT

# The tree: file i lies in folder i % FOLDERS; its size steps through
# 64 B..16 KiB; its bytes are its own number repeated.
mkdir -p "$work/tree"
perl -e '
  my ($root, $files, $folders) = @ARGV;
  for my $d (0 .. $folders - 1) { mkdir sprintf("%s/d%04d", $root, $d) or die $! }
  for my $i (0 .. $files - 1) {
    my $size = 64 + ($i * 7919) % (16384 - 64 + 1);
    my $path = sprintf("%s/d%04d/f%06d.bin", $root, $i % $folders, $i);
    my $line = sprintf("%08d\n", $i);
    my $body = substr($line x (int($size / 9) + 1), 0, $size);
    open(my $f, ">", $path) or die $!; print $f $body; close $f;
  }' "$work/tree" "$files" "$folders"
bytes=$(du -sb "$work/tree" | cut -f1)
# Room for the data, the cluster slack and the metadata.
mib=$(( (bytes * 2 + files * 8192) / 1048576 + 64 ))
rm -f "$image" "$image.part"
truncate -s "${mib}M" "$image.part"

deleted() {  # the paths (relative) of every tenth file
  perl -e 'my ($files, $folders) = @ARGV;
    for (my $i = 5; $i < $files; $i += 10) { printf("d%04d/f%06d.bin\n", $i % $folders, $i) }' "$files" "$folders"
}

case "$kind" in
  fat32)
    mkfs.vfat -F 32 -n MANYFILES "$image.part" > /dev/null
    mcopy -s -i "$image.part" "$work/tree"/* ::/
    deleted | sed 's|^|::/|' | xargs -n 500 mdel -i "$image.part"
    ;;
  ntfs|exfat)
    if [ "$kind" = ntfs ]; then
      mkfs.ntfs -q -F -f -L MANYFILES "$image.part" > /dev/null 2>&1
      mkdir "$work/mnt"; ntfs-3g "$image.part" "$work/mnt"
    else
      loop="$(losetup -f --show "$image.part")"
      mkfs.exfat -c 4096 -L MANYFILES "$loop" > /dev/null  # 4 KiB clusters, as NTFS and FAT32 get
      mkdir "$work/mnt"; mount.exfat-fuse "$loop" "$work/mnt"
    fi
    cp -r "$work/tree"/. "$work/mnt/"
    sync
    (cd "$work/mnt" && deleted | xargs rm -f)
    fusermount -u "$work/mnt"
    if [ -n "$loop" ]; then losetup -d "$loop"; loop=""; fi
    ;;
  *) echo "unknown file system: $kind" >&2; exit 2 ;;
esac
mv "$image.part" "$image"
echo "$image: $kind, $files files ($(( files / 10 )) deleted) in $folders folders, ${mib} MiB"
