#!/usr/bin/env bash
# Installs what is missing, builds Ambrel and runs the main job: a FAT32
# image holding live and deleted files (the committed fixture, made with
# mkfs.vfat and mtools) is parsed and every file, deleted ones included, is
# recovered into a folder; the completion report and the recovered tree are
# printed. The image is never written to (its md5 is shown before and after).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ambrel_install_missing

cmake -S . -B build
cmake --build build -j"$(nproc)" --target ambrel-cli
cli=build/cli/ambrel-cli

echo "== version"
"$cli" --version
echo "== start-up checks"
"$cli" startup

# The recovered files must not land on the file system that holds the
# image (the program refuses that), so the image and the target folder go
# to different file systems when the machine has two.
work=build/demo
rm -rf "$work"
mkdir -p "$work"
image="$work/fat32-demo.img"
gzip -dc fixtures/images/fat32-basic.img.gz >"$image"
if [ -d /dev/shm ] && [ "$(stat -c %d /dev/shm)" != "$(stat -c %d "$work")" ]; then
  out=$(mktemp -d /dev/shm/ambrel-demo.XXXXXX)
else
  out=$(mktemp -d "${TMPDIR:-/tmp}/ambrel-demo.XXXXXX")
fi

echo "== demo image: $image"
echo "md5 before: $(md5sum <"$image" | cut -d' ' -f1)"
echo "== ambrel-cli info $image"
"$cli" --home "$work/home" info "$image"
echo "== ambrel-cli recover $image --out $out"
status=0
"$cli" --home "$work/home" recover "$image" --out "$out" || status=$?
echo "exit status: $status"
echo "md5 after:  $(md5sum <"$image" | cut -d' ' -f1)"

echo "== recovered files (md5, path)"
(cd "$out" && find . -type f -print0 | sort -z | xargs -0 md5sum)

echo "== the same run as JSON (deleted files only, existing files skipped)"
"$cli" --home "$work/home" recover "$image" --out "$out" --deleted --overwrite skip --json || true
echo "recovered into: $out"
exit "$status"
