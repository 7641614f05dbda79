#!/usr/bin/env bash
# Installs what is missing, builds Ambrel and runs the main job: the
# command-line program's start-up checks (identity file, resource pack,
# settings, single-instance guard, run counter).
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
