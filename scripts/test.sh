#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds with warnings as errors and runs
# every test. With BRISK_SANITIZE=address,undefined (or thread) it builds and tests with
# those sanitizers in a folder of their own.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

echo "== Format check"
mapfile -t sources < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h')
clang-format --dry-run --Werror "${sources[@]}"

sanitize="${BRISK_SANITIZE:-}"
build="build/debug"
[ -z "$sanitize" ] || build="build/sanitize-${sanitize//,/-}"
echo "== Build in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRISK_WERROR=ON \
  -DBRISK_SANITIZE="$sanitize" >/dev/null
cmake --build "$build"

echo "== Tests"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" ${BRISK_TEST_LABEL:+-L "$BRISK_TEST_LABEL"}
