#!/usr/bin/env bash
# Installs what is missing, builds Brisk and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRISK_BUILD_TESTS=OFF >/dev/null
cmake --build build/release --target brisk
exec build/release/src/app/brisk "$@"
