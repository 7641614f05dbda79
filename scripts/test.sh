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

# The tests' scratch folders live in one folder of this run, removed at the
# end whatever happens, so a run never leaves images behind in /tmp.
run_tmp="$(mktemp -d "${TMPDIR:-/tmp}/ambrel-tests.XXXXXX")"
trap 'rm -rf "$run_tmp"' EXIT
# Open to every user as /tmp is: some tests run the program as "nobody".
chmod 1777 "$run_tmp"
export TMPDIR="$run_tmp"
df -h "$run_tmp" . | sed 's/^/disk: /'

cmake -S . -B build -DAMBREL_WERROR=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

if [ "${AMBREL_SKIP_SANITIZE:-0}" != 1 ]; then
  # Warnings are enforced by the first build; the sanitizers make g++ report
  # false maybe-uninitialized warnings inside the standard library.
  cmake -S . -B build-asan -DAMBREL_SANITIZE=ON -DAMBREL_BENCH=OFF \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build-asan -j"$jobs"
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
fi
