#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors and
# runs every test; then builds the tests with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs them again (AMBREL_SKIP_SANITIZE=1
# skips that second pass).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ambrel_install_missing
jobs="$(nproc)"

cmake -S . -B build -DAMBREL_WERROR=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

if [ "${AMBREL_SKIP_SANITIZE:-0}" != 1 ]; then
  cmake -S . -B build-asan -DAMBREL_WERROR=ON -DAMBREL_SANITIZE=ON -DAMBREL_BENCH=OFF \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build-asan -j"$jobs"
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
fi
