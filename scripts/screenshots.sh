#!/bin/bash
# Saves a PNG of each main screen of the desktop program in
# docs/screenshots/: the program runs under Xvfb with the Noto CJK fonts on
# the demo disk image (scripts/demo-disk.sh, padded to 2 GiB so that the
# scan shows its time figures), driven by build/ui/ambrel-ui-tour. The
# scan is slowed to pass its first minute: the run takes about 2 minutes.
#   scripts/screenshots.sh [OUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ambrel_install_missing
out=${1:-docs/screenshots}
[[ -x build/ui/ambrel-ui-tour ]] || {
  cmake -S . -B build >/dev/null
  cmake --build build -j"${AMBREL_JOBS:-2}" --target ambrel-ui-tour ambrel-cli >/dev/null
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
scripts/demo-disk.sh "$work/demo-disk.img" >/dev/null
truncate -s 2G "$work/demo-disk.img"
mkdir -p "$out"
rm -f "$out"/*.png
export AMBREL_ALLOW_SECOND_INSTANCE=1 QT_QPA_PLATFORM=xcb LANG=zh_CN.UTF-8 LC_ALL=C.UTF-8
xvfb-run -a -s "-screen 0 1024x768x24" build/ui/ambrel-ui-tour "$work/demo-disk.img" "$out"
ls -l "$out"
