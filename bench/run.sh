#!/usr/bin/env bash
# Measures Brisk between two brisk-peer processes over loopback, whole processes timed from
# start to exit, beside the yardsticks for the same work:
#   - a large file: a bare zero-copy transfer (sendfile into the socket, splice into the
#     file, no protocol) and socat (a plain stream copied through user space);
#   - a tree of small files: tar through socat, and the protocol's own bound (two loopback
#     round trips per file, measured by a ping-pong in the same run);
#   - a 1-byte file: the fixed cost of one transfer from start to exit.
# Prints medians of several runs with each run's figures, the ratios, CPU seconds per GiB
# and the peak memory of each brisk process.
#
#   bench/run.sh [FILE_MIB] [TREE_FILES] [RUNS]      defaults: 1024 MiB, 10000 files, 5 runs
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
file_mib="${1:-1024}"
tree_files="${2:-10000}"
runs="${3:-5}"
work="${BRISK_BENCH_DIR:-/tmp/brisk-bench}"

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRISK_BUILD_TESTS=OFF >/dev/null
cmake --build build/release --target brisk-peer bare_zero_copy ping_pong >/dev/null
peer="$PWD/build/release/src/app/brisk-peer"
bare="$PWD/build/release/bench/bare_zero_copy"
ping="$PWD/build/release/bench/ping_pong"

rm -rf "$work"
mkdir -p "$work/source/tree" "$work/in"
# Each pair writes into a folder of its own, and the trees written stay until the end:
# ext4 skips inodes freed in the last half minute or so when it allocates new ones, so
# removing 10,000 files right before writing 10,000 more makes every create scan past them
# (most of the receiving side's time, for tar and brisk alike).
outputs=0
out="$work/in"
next_out() {
  outputs=$((outputs + 1))
  out="$work/in/$outputs"
  mkdir -p "$out"
}
head -c "$((file_mib * 1024 * 1024))" /dev/urandom >"$work/source/big.bin"
head -c 1 /dev/urandom >"$work/source/one.bin"
for ((i = 0; i < tree_files; i++)); do
  dir="$work/source/tree/d$((i / 100))"
  [ -d "$dir" ] || mkdir -p "$dir"
  head -c 4096 /dev/urandom >"$dir/f$i.bin"
done
# Every run starts from the page cache.
cat "$work/source/big.bin" >/dev/null
tar -cf - -C "$work/source" tree >/dev/null
port=$((47000 + RANDOM % 2000))

wait_listening() {
  until ss -Hltn "sport = :$1" | grep -q .; do sleep 0.005; done
}

# Runs RECEIVER (in the background) and, once it listens on $port, SENDER; both under
# /usr/bin/time. Prints: wall seconds, CPU seconds of both, peak KiB of receiver and sender.
pair() {
  local receiver="$1" sender="$2"
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f "%U %S %M" -o "$work/receiver.time" bash -c "$receiver" >/dev/null 2>&1 &
  local listener=$!
  wait_listening "$port"
  /usr/bin/time -f "%U %S %M" -o "$work/sender.time" bash -c "$sender" >/dev/null 2>&1
  wait "$listener"
  end=$(date +%s.%N)
  read -r ru rs rm <"$work/receiver.time"
  read -r su ss sm <"$work/sender.time"
  awk -v s="$start" -v e="$end" -v c1="$ru" -v c2="$rs" -v c3="$su" -v c4="$ss" -v rm="$rm" -v sm="$sm" \
    'BEGIN { printf "%.3f %.3f %d %d\n", e - s, c1 + c2 + c3 + c4, rm, sm }'
  port=$((port + 3))
}

brisk_pair() {
  local item="$1"
  pair "'$peer' listen --port $port --save-to '$out' --exists again --once" \
    "'$peer' connect 127.0.0.1 --port $port --send '$item' --once"
}
bare_pair() {
  pair "'$bare' receive $port '$out/big.bin'" "'$bare' send $port '$work/source/big.bin'"
}
socat_pair() {
  pair "socat -u -b 1048576 TCP-LISTEN:$port,reuseaddr,bind=127.0.0.1 OPEN:'$out/big.bin',creat,trunc" \
    "socat -u -b 1048576 OPEN:'$work/source/big.bin' TCP:127.0.0.1:$port"
}
tar_pair() {
  pair "socat -u TCP-LISTEN:$port,reuseaddr,bind=127.0.0.1 SYSTEM:'tar -xf - -C $out'" \
    "socat -u SYSTEM:'tar -cf - -C $work/source tree' TCP:127.0.0.1:$port"
}

declare -A results
record() {  # record NAME "wall cpu rss_receiver rss_sender"
  results[$1]+="$2"$'\n'
}

for run in $(seq "$runs"); do
  echo "run $run of $runs..." >&2
  # A large copy is removed once checked: one inode, and it would fill the disk.
  next_out
  record bare "$(bare_pair)"
  cmp -s "$work/source/big.bin" "$out/big.bin" || { echo "bare copy differs" >&2; exit 1; }
  rm -f "$out/big.bin"
  next_out
  record brisk_big "$(brisk_pair "$work/source/big.bin")"
  cmp -s "$work/source/big.bin" "$out/big.bin" || { echo "brisk copy differs" >&2; exit 1; }
  rm -f "$out/big.bin"
  next_out
  record socat "$(socat_pair)"
  rm -f "$out/big.bin"
  next_out
  record tar "$(tar_pair)"
  next_out
  record brisk_tree "$(brisk_pair "$work/source/tree")"
  diff -r "$work/source/tree" "$out/tree" >/dev/null || { echo "tree differs" >&2; exit 1; }
  next_out
  record brisk_one "$(brisk_pair "$work/source/one.bin")"
  record ping "$("$ping" 20000)"
done

# median COLUMN NAME: the median of one column of a result's runs, and every run's value.
median() {
  printf '%s' "${results[$2]}" | awk -v c="$1" 'NF { v[++n] = $c }
    END { m = n; for (i = 1; i <= n; i++) s[i] = v[i]
          for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (s[j] < s[i]) { t = s[i]; s[i] = s[j]; s[j] = t }
          med = (n % 2) ? s[(n + 1) / 2] : (s[n / 2] + s[n / 2 + 1]) / 2
          all = ""; for (i = 1; i <= n; i++) all = all (i > 1 ? " " : "") v[i]
          printf "%s [%s]", med, all }'
}
value() { median "$1" "$2" | cut -d' ' -f1; }

gib=$(awk -v m="$file_mib" 'BEGIN { print m / 1024 }')
line() {  # line LABEL NAME BYTES
  local wall cpu
  wall=$(value 1 "$2")
  cpu=$(value 2 "$2")
  awk -v l="$1" -v w="$wall" -v c="$cpu" -v b="$3" -v all="$(median 1 "$2" | cut -d' ' -f2-)" \
    'BEGIN { printf "  %-22s %7.3f s %s  %8.1f MiB/s  CPU %.2f s per GiB\n", l, w, all, b / w / 1048576, c / (b / 1073741824) }'
}
peaks() {
  awk -v r="$(value 3 "$1")" -v s="$(value 4 "$1")" \
    'BEGIN { printf "  %-22s receiver %.1f MiB, sender %.1f MiB\n", "brisk peak memory", r / 1024, s / 1024 }'
}
ratio() {  # ratio LABEL FASTER SLOWER: throughput of SLOWER as a share of FASTER
  awk -v l="$1" -v a="$(value 1 "$2")" -v b="$(value 1 "$3")" 'BEGIN { printf "  %-22s %.2f\n", l, a / b }'
}

big_bytes=$((file_mib * 1024 * 1024))
tree_bytes=$((tree_files * 4096))
echo "== Large file, $file_mib MiB ($gib GiB); medians of $runs runs [each run]"
line "bare zero-copy" bare "$big_bytes"
line "brisk" brisk_big "$big_bytes"
line "socat" socat "$big_bytes"
ratio "brisk / bare" bare brisk_big
peaks brisk_big
echo "== Tree, $tree_files files of 4 KiB"
line "tar through socat" tar "$tree_bytes"
line "brisk" brisk_tree "$tree_bytes"
rtt=$(value 1 ping)
folders=$(((tree_files + 99) / 100 + 1))
awk -v r="$rtt" -v f="$tree_files" -v d="$folders" -v all="$(median 1 ping | cut -d' ' -f2-)" \
  'BEGIN { printf "  %-22s %7.3f s  (2 round trips per file and per folder, %.1f us each %s)\n",
           "protocol bound", r * 2 * (f + d) / 1e6, r, all }'
ratio "brisk / tar" tar brisk_tree
peaks brisk_tree
echo "== One file of 1 byte, start to exit"
awk -v w="$(value 1 brisk_one)" -v all="$(median 1 brisk_one | cut -d' ' -f2-)" \
  'BEGIN { printf "  %-22s %7.3f s %s\n", "brisk", w, all }'
rm -rf "$work"
