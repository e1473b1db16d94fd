#!/usr/bin/env bash
# Moves a large file and a tree of small files between two brisk-peer processes over
# loopback and prints the throughput and each process's peak resident memory.
#   bench/peer_processes.sh BRISK_PEER WORK_FOLDER FILE_MIB TREE_FILES
set -euo pipefail
peer="$(realpath "$1")"
work="$2"
file_mib="$3"
tree_files="$4"
port=$((47000 + RANDOM % 2000))

rm -rf "$work"
mkdir -p "$work/source/tree" "$work/in"
head -c "$((file_mib * 1024 * 1024))" /dev/urandom > "$work/source/big.bin"
for ((i = 0; i < tree_files; i++)); do
  dir="$work/source/tree/d$((i / 100))"
  [ -d "$dir" ] || mkdir -p "$dir"
  head -c 4096 /dev/urandom > "$dir/f$i.bin"
done
cat "$work/source/big.bin" > /dev/null

# One transfer: the listener receives, the connector sends; prints MiB/s and both peaks.
measure() {
  local item="$1" bytes="$2" label="$3"
  rm -rf "$work/in" && mkdir -p "$work/in"
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$work/listen.rss" \
    "$peer" listen --port "$port" --save-to "$work/in" --exists again --once >/dev/null 2>&1 &
  local listener=$!
  # Connect only once the listener listens: it takes exactly one peer.
  until ss -Hltn "sport = :$port" | grep -q .; do sleep 0.01; done
  /usr/bin/time -f "%M" -o "$work/connect.rss" \
    "$peer" connect 127.0.0.1 --port "$port" --send "$item" --once >/dev/null 2>&1
  wait "$listener"
  end=$(date +%s.%N)
  awk -v b="$bytes" -v s="$start" -v e="$end" -v l="$label" \
    -v r1="$(cat "$work/listen.rss")" -v r2="$(cat "$work/connect.rss")" \
    'BEGIN { printf "%-28s %8.1f MiB/s   peak memory: receiver %.1f MiB, sender %.1f MiB\n",
             l, b / (e - s) / 1048576, r1 / 1024, r2 / 1024 }'
  port=$((port + 3))
}

measure "$work/source/big.bin" $((file_mib * 1024 * 1024)) "large file (processes)"
cmp "$work/source/big.bin" "$work/in/big.bin"
measure "$work/source/tree" $((tree_files * 4096)) "tree (processes)"
diff -r "$work/source/tree" "$work/in/tree" >/dev/null
rm -rf "$work"
