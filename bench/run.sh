#!/usr/bin/env bash
# Builds Brisk optimised and measures its transfers beside a plain TCP stream:
#   bench/run.sh [FILE_MIB] [TREE_FILES] [RUNS]
# Defaults: a 2048 MiB file, 10000 files of 4 KiB, three runs (to show the machine's noise).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
file_mib="${1:-2048}"
tree_files="${2:-10000}"
runs="${3:-3}"
work="${BRISK_BENCH_DIR:-/tmp/brisk-bench}"

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRISK_BUILD_TESTS=OFF >/dev/null
cmake --build build/release --target transfer_bench brisk-peer

for run in $(seq "$runs"); do
  echo "== Run $run: two transfer threads in one process"
  build/release/bench/transfer_bench "$work/threads" "$file_mib" "$tree_files"
  echo "== Run $run: two brisk-peer processes"
  bench/peer_processes.sh build/release/src/app/brisk-peer "$work/processes" "$file_mib" "$tree_files"
done
