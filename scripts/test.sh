#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds with warnings as errors and runs
# every test. With BRISK_SANITIZE=address,undefined (or thread) it builds and tests with
# those sanitizers in a folder of their own. BRISK_TEST_LABEL runs only the tests with
# those labels (a regular expression, as ctest -L takes it); BRISK_BUILD_TARGETS then builds
# only the targets those tests run (and what they need) instead of everything.
# BRISK_SANITIZE_VPTR=OFF leaves the undefined-behaviour sanitizer's dynamic type check out
# (it makes the windows' files a third slower to compile).
# BRISK_BUILD_ONLY=1 stops after the build: a later call with the same settings runs the
# tests on it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

step=$SECONDS
echo "== Format check"
mapfile -t sources < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h')
clang-format --dry-run --Werror "${sources[@]}"
echo "   took $((SECONDS - step)) s"

sanitize="${BRISK_SANITIZE:-}"
build="build/debug"
[ -z "$sanitize" ] || build="build/sanitize-${sanitize//,/-}"
step=$SECONDS
echo "== Build in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRISK_WERROR=ON \
  -DBRISK_SANITIZE="$sanitize" -DBRISK_SANITIZE_VPTR="${BRISK_SANITIZE_VPTR:-ON}" >/dev/null
read -ra targets <<<"${BRISK_BUILD_TARGETS:-}"
cmake --build "$build" ${targets[@]+--target "${targets[@]}"}
echo "   took $((SECONDS - step)) s"
[ "${BRISK_BUILD_ONLY:-}" != 1 ] || exit 0

step=$SECONDS
echo "== Tests"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" ${BRISK_TEST_LABEL:+-L "$BRISK_TEST_LABEL"}
echo "   took $((SECONDS - step)) s"
