#!/bin/bash
# Builds the Debian package with CPack (installed under /usr), installs it
# with dpkg -i and runs both programs from the PATH:
#   ambrel-cli --version, ambrel-cli startup (finds its pack), ambrel --help,
#   and the decoding helpers installed beside them.
# Needs root (or sudo) for dpkg. The package is left in build-deb/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ambrel_install_missing

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-deb -DCMAKE_INSTALL_PREFIX=/usr -DAMBREL_WERROR=ON -DAMBREL_TESTS=OFF -DAMBREL_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build-deb -j"${AMBREL_JOBS:-2}" --target ambrel ambrel-cli
(cd build-deb && rm -f ambrel_*.deb && cpack -G DEB >/dev/null)
deb=$(ls build-deb/ambrel_*.deb)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Depends Recommends
dpkg-deb --contents "$deb" | awk '{print $6, $7, $8}'

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
"${sudo[@]}" dpkg -i "$deb"

# From the PATH, in a clean folder, as an installed copy runs.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export AMBREL_ALLOW_SECOND_INSTANCE=1
echo "--- $(command -v ambrel-cli)"
ambrel-cli --version
ambrel-cli --home "$work" startup >/dev/null
echo "--- $(command -v ambrel)"
ambrel --help
ambrel --version
test -f /usr/share/applications/ambrel.desktop
test -f /usr/share/icons/hicolor/scalable/apps/ambrel.svg
grep -q '^Exec=pkexec ' /usr/share/applications/ambrel.desktop
# The picture decoders run as helper programs beside the installed programs.
libdir=$(dirname "$(readlink -f "$(command -v ambrel-cli)")")
test -x "$libdir/ambrel-decode"
test -x "$libdir/ambrel-decode-media"
echo "--- decoding helpers in $libdir"
echo "package installed and checked: $deb"
