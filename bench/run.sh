#!/usr/bin/env bash
# Measures Brisk between two brisk-peer processes over loopback, whole processes timed from
# start to exit, beside the yardsticks for the same work:
#   - a large file: a bare zero-copy transfer (sendfile into the socket, splice into the
#     file, no protocol) and socat (a plain stream copied through user space);
#   - a tree of small files: tar through socat, and the protocol's own bound (two loopback
#     round trips per file, measured by a ping-pong in the same run);
#   - a 1-byte file: the fixed cost of one transfer from start to exit;
#   - the large file, the tree and the 1-byte file again in encrypted sessions between two
#     installations that verified each other before the runs (so the 1-byte file shows
#     what connecting to a verified peer adds), and the large file once more with
#     --no-stream on both sides: the protocol's own records inside the session, nothing
#     checked, beside the streamed transfer that checks every byte on both sides;
#   - the check before a resume: a partial file of BRISK_BENCH_RESUME_MIB at the receiving
#     side (the start of the offered one), hashed there and at the sending side before the
#     rest follows.
# Then the same tree (or a smaller one) and the large file through a network with a round
# trip of its own: two network namespaces, the sender's and the receiver's, joined through
# a third by bench/delay_relay, which delays every byte by a fixed time each way without
# limiting bandwidth (root only; otherwise those figures are skipped). Brisk and tar
# through socat go through the same relay; a ping-pong through it measures the round trip
# it really gives.
# Prints medians of several runs with each run's figures, the ratios, CPU seconds per GiB
# and the peak memory of each brisk process.
#
#   bench/run.sh [FILE_MIB] [TREE_FILES] [RUNS]      defaults: 1024 MiB, 10000 files, 5 runs
#
# The delayed runs are set by the environment:
#   BRISK_BENCH_DELAYS         one-way delays in ms, "0 0.25 2.5" by default (round trips of
#                              0.5 and 5 ms, and the relay alone); empty: none
#   BRISK_BENCH_DELAYED_FILES  files of the tree sent through the relay, 1000 by default:
#                              at two round trips per file, 10,000 files take brisk 100 s a
#                              run at 5 ms
#   BRISK_BENCH_DELAYED_RUNS   runs at each delay, 3 by default
#   BRISK_BENCH_RELAY_VARIANTS Brisk's variants through the relay, "plain streamed" by
#                              default: the protocol, and the streamed transfers of two
#                              verified Brisk peers
#   BRISK_BENCH_DELAYED_MIB    the large file through the relay, FILE_MIB by default; 0: none
# and the resume check by
#   BRISK_BENCH_RESUME_MIB     the part already at the receiving side, 4096 MiB by default
#                              (the file offered is 256 MiB longer); 0: none
#   BRISK_BENCH_RESUME_RUNS    runs of it, 3 by default
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
file_mib="${1:-1024}"
tree_files="${2:-10000}"
runs="${3:-5}"
work="${BRISK_BENCH_DIR:-/tmp/brisk-bench}"
delays="${BRISK_BENCH_DELAYS-0 0.25 2.5}"
delayed_files="${BRISK_BENCH_DELAYED_FILES:-1000}"
delayed_runs="${BRISK_BENCH_DELAYED_RUNS:-3}"
relay_variants="${BRISK_BENCH_RELAY_VARIANTS:-plain streamed}"
delayed_mib="${BRISK_BENCH_DELAYED_MIB:-$file_mib}"
resume_mib="${BRISK_BENCH_RESUME_MIB:-4096}"
resume_runs="${BRISK_BENCH_RESUME_RUNS:-3}"
[ "$delayed_files" -le "$tree_files" ] || delayed_files=$tree_files
[ "$delayed_mib" -le "$file_mib" ] || delayed_mib=$file_mib

source bench/memory_reclaim.sh
trap restore_memory_reclaim EXIT
hold_memory_reclaim

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRISK_BUILD_TESTS=OFF >/dev/null
cmake --build build/release --target brisk-peer bare_zero_copy ping_pong delay_relay >/dev/null
peer="$PWD/build/release/src/app/brisk-peer"
bare="$PWD/build/release/bench/bare_zero_copy"
ping="$PWD/build/release/bench/ping_pong"
relay="$PWD/build/release/bench/delay_relay"

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

# The network namespace the listening side of a pair runs in; empty: this one.
listen_ns=""
in_ns() { [ -z "$1" ] || echo "ip netns exec $1"; }

wait_listening() {
  until $(in_ns "$listen_ns") ss -Hltn "sport = :$1" | grep -q .; do sleep 0.005; done
}

# Runs RECEIVER (in the background) and, once it listens on $port (or WAIT_PORT), SENDER;
# both under /usr/bin/time. Prints: wall seconds, CPU seconds of both, peak KiB of receiver
# and sender.
pair() {
  local receiver="$1" sender="$2" wait_port="${3:-$port}"
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f "%U %S %M" -o "$work/receiver.time" bash -c "$receiver" >/dev/null 2>&1 &
  local listener=$!
  wait_listening "$wait_port"
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
  pair "'$peer' listen --plain --port $port --save-to '$out' --exists again --once" \
    "'$peer' connect 127.0.0.1 --plain --port $port --send '$item' --once"
}
# Each side of an encrypted pair has an identity of its own; they verify each other once,
# before the runs (ENC_TRUST), and recognise each other in every run after.
# Options after the item go to both sides.
enc_pair() {
  local item="$1"
  shift
  pair "XDG_CONFIG_HOME='$work/id-receiver' '$peer' listen --port $port --save-to '$out' --exists again --once ${ENC_TRUST:-} $*" \
    "XDG_CONFIG_HOME='$work/id-sender' '$peer' connect 127.0.0.1 --port $port --send '$item' --once ${ENC_TRUST:-} $*" \
    $((port + 101))
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

declare -A results relay_report
record() {  # record NAME "wall cpu rss_receiver rss_sender"
  results[$1]+="$2"$'\n'
}

next_out
ENC_TRUST=--trust-first-contact enc_pair "$work/source/one.bin" >/dev/null
[ -e "$out/one.bin" ] || { echo "the encrypted pair did not verify each other" >&2; exit 1; }
for run in $(seq "$runs"); do
  echo "run $run of $runs..." >&2
  # A large copy is removed once checked: one inode, and it would fill the disk. Where
  # the host's cost (see bench/memory_reclaim.sh) cannot be held off, the figures swing:
  # hence medians, with every run's figure beside them.
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
  # The two encrypted large copies take turns going first: the first after the pause of
  # the small runs would pay the host's cost (see bench/memory_reclaim.sh).
  order="checked unchecked"
  [ $((run % 2)) -eq 1 ] || order="unchecked checked"
  for variant in $order; do
    next_out
    if [ "$variant" = checked ]; then
      record enc_big "$(enc_pair "$work/source/big.bin")"
    else
      record enc_unchecked_big "$(enc_pair "$work/source/big.bin" --no-stream)"
    fi
    cmp -s "$work/source/big.bin" "$out/big.bin" || { echo "$variant encrypted copy differs" >&2; exit 1; }
    rm -f "$out/big.bin"
  done
  next_out
  record enc_tree "$(enc_pair "$work/source/tree")"
  diff -r "$work/source/tree" "$out/tree" >/dev/null || { echo "encrypted tree differs" >&2; exit 1; }
  next_out
  record enc_one "$(enc_pair "$work/source/one.bin")"
  record ping "$("$ping" 20000)"
done

# ---- The check before a resume. The receiving side holds the first RESUME_MIB of the
# file; both sides hash that part (at the same time) before the rest is sent. Measured
# from the sender's start to the receiving side's resume event (--json), which comes once
# the sending side found both digests equal and announced the data: connecting and the
# offer are included (the 1-byte encrypted run shows how much that is). Both files are in
# the page cache, as a file just written or just sent is. After each run the received
# file is cut back to its partial size for the next one.
stamp_lines() {
  local line
  while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done
}
resume_run() {
  local start resumed end
  XDG_CONFIG_HOME="$work/id-receiver" "$peer" listen --port "$port" --save-to "$out" --resume \
    --exists resume --once --json 2>/dev/null | stamp_lines >"$work/resume.events" &
  local listener=$!
  wait_listening $((port + 101))
  start=$EPOCHREALTIME
  XDG_CONFIG_HOME="$work/id-sender" "$peer" connect 127.0.0.1 --port "$port" \
    --send "$work/source/resume.bin" --once >/dev/null 2>&1
  wait "$listener"
  end=$EPOCHREALTIME
  port=$((port + 3))
  resumed=$(grep -m1 '"event":"resume"' "$work/resume.events" | cut -d' ' -f1)
  [ -n "$resumed" ] || { echo "the resume run did not resume" >&2; return 1; }
  awk -v s="$start" -v r="$resumed" -v e="$end" 'BEGIN { printf "%.3f %.3f\n", r - s, e - s }'
}
if [ "$resume_mib" -gt 0 ]; then
  next_out
  # Enough data of its own: the large file repeated, then 256 MiB more.
  for ((i = 0; i < (resume_mib + 256) / file_mib + 1; i++)); do cat "$work/source/big.bin"; done \
    >"$work/source/resume.bin"
  truncate -s "$(((resume_mib + 256) * 1024 * 1024))" "$work/source/resume.bin"
  head -c "$((resume_mib * 1024 * 1024))" "$work/source/resume.bin" >"$out/resume.bin"
  cat "$work/source/resume.bin" "$out/resume.bin" >/dev/null
  # Written out before the runs: writeback of gigabytes beside the check slows its reads.
  sync
  for run in $(seq "$resume_runs"); do
    echo "resume check: run $run of $resume_runs..." >&2
    result=$(resume_run) || exit 1
    record resume "$result"
    cmp -s "$work/source/resume.bin" "$out/resume.bin" || { echo "resumed copy differs" >&2; exit 1; }
    truncate -s "$((resume_mib * 1024 * 1024))" "$out/resume.bin"
  done
  rm -f "$work/source/resume.bin" "$out/resume.bin"
fi

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
# cpu_floor REFERENCE NAME: both sides of NAME share this machine's cores, so no run of it
# can end before their CPU seconds spread over all cores: the best share of REFERENCE's
# throughput that NAME could reach here, however its work were split.
cores=$(nproc)
cpu_floor() {
  awk -v ref="$1" -v r="$(value 1 "$1")" -v c="$(value 2 "$2")" -v n="$cores" \
    'BEGIN { printf "  %-22s %7.3f s (CPU of both sides over %d cores): at most %.2f of %s\n",
             "CPU floor", c / n, n, r / (c / n), ref }'
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
awk -v w="$(value 1 enc_one)" -v all="$(median 1 enc_one | cut -d' ' -f2-)" \
  'BEGIN { printf "  %-22s %7.3f s %s\n", "brisk encrypted", w, all }'
awk -v e="$(value 1 enc_one)" -v p="$(value 1 brisk_one)" \
  'BEGIN { printf "  %-22s %7.3f s (a verified peer: handshake, names, capabilities)\n", "encrypted adds", e - p }'
echo "== Encrypted sessions (verified peers)"
line "large file encrypted" enc_big "$big_bytes"
ratio "encrypted / bare" bare enc_big
cpu_floor bare enc_big
ratio "encrypted / plain" brisk_big enc_big
peaks enc_big
line "encrypted, unchecked" enc_unchecked_big "$big_bytes"
ratio "unchecked / bare" bare enc_unchecked_big
cpu_floor bare enc_unchecked_big
ratio "streamed+checked / encrypted unchecked" enc_unchecked_big enc_big
line "tree encrypted" enc_tree "$tree_bytes"
ratio "tree enc / plain" brisk_tree enc_tree
ratio "tree enc / tar" tar enc_tree
if [ "$resume_mib" -gt 0 ]; then
  echo "== Resume onto $resume_mib MiB already there; medians of $resume_runs runs [each run]"
  awk -v g="$(awk -v m="$resume_mib" 'BEGIN { print m / 1024 }')" -v c="$(value 1 resume)" \
    -v all="$(median 1 resume | cut -d' ' -f2-)" \
    'BEGIN { printf "  resume check of %g GiB: %.3f s %s (start to the resume event)\n", g, c, all }'
  awk -v w="$(value 2 resume)" -v all="$(median 2 resume | cut -d' ' -f2-)" \
    'BEGIN { printf "  %-22s %7.3f s %s (the check, then 256 MiB more)\n", "whole run", w, all }'
fi

# ---- Through a network with a round trip: sender <-veth-> relay <-veth-> receiver, each in
# a network namespace of this run's own. The sender reaches the receiver only through the
# relay's address: its control connection goes there, and so do its data connections (to
# the address the control connection reached), which the relay forwards port for port to
# the receiver, where the listening brisk-peer waits for them.
if [ -z "${delays// /}" ]; then
  rm -rf "$work"
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "== Through a delaying relay: skipped (its network namespaces need root)"
  rm -rf "$work"
  exit 0
fi
ns_send="brisk-bench-$$-send"
ns_relay="brisk-bench-$$-relay"
ns_recv="brisk-bench-$$-recv"
# Addresses of the range set aside for benchmarks (198.18.0.0/15), on links that exist only
# inside these namespaces.
send_address=198.18.0.1
relay_front=198.18.0.2
relay_back=198.19.0.1
recv_address=198.19.0.2
relay_pid=""
remove_namespaces() {
  [ -z "$relay_pid" ] || kill "$relay_pid" 2>/dev/null || true
  local ns
  for ns in "$ns_send" "$ns_relay" "$ns_recv"; do ip netns del "$ns" 2>/dev/null || true; done
}
trap 'remove_namespaces; restore_memory_reclaim' EXIT
make_namespaces() {
  local ns
  for ns in "$ns_send" "$ns_relay" "$ns_recv"; do
    ip netns add "$ns" && ip -n "$ns" link set lo up || return 1
  done
  ip link add s0 netns "$ns_send" type veth peer name r0 netns "$ns_relay" &&
    ip link add r1 netns "$ns_relay" type veth peer name v0 netns "$ns_recv" &&
    ip -n "$ns_send" addr add "$send_address/24" dev s0 &&
    ip -n "$ns_relay" addr add "$relay_front/24" dev r0 &&
    ip -n "$ns_relay" addr add "$relay_back/24" dev r1 &&
    ip -n "$ns_recv" addr add "$recv_address/24" dev v0 &&
    ip -n "$ns_send" link set s0 up && ip -n "$ns_relay" link set r0 up &&
    ip -n "$ns_relay" link set r1 up && ip -n "$ns_recv" link set v0 up
}
if ! make_namespaces 2>"$work/netns.err"; then
  echo "== Through a delaying relay: skipped (cannot make network namespaces here:" \
    "$(head -n 1 "$work/netns.err"))"
  rm -rf "$work"
  exit 0
fi
send=$(in_ns "$ns_send")
recv=$(in_ns "$ns_recv")
# The control port; its transfers' data ports are control + Index + 1 (2 to 100) and the
# encrypted session's port control + 101. Above the range of outgoing ports, so that no
# connection's local end takes one.
relay_port=61000

# The smaller tree: the first files of the loopback tree, in folders of 100 as there.
delayed_source="$work/source/delayed"
mkdir -p "$delayed_source/tree"
for ((i = 0; i < delayed_files; i++)); do
  dir="$delayed_source/tree/d$((i / 100))"
  [ -d "$dir" ] || mkdir -p "$dir"
  cp "$work/source/tree/d$((i / 100))/f$i.bin" "$dir/"
done
delayed_big="$work/source/big.bin"
if [ "$delayed_mib" -gt 0 ] && [ "$delayed_mib" -ne "$file_mib" ]; then
  delayed_big="$delayed_source/big.bin"
  head -c "$((delayed_mib * 1024 * 1024))" "$work/source/big.bin" >"$delayed_big"
fi
tar -cf - -C "$delayed_source" tree >/dev/null

# Brisk's variants through the relay: a label and the options both brisk-peer processes
# take for it. "plain" is the protocol every peer speaks; the streamed transfers of an
# encrypted session between two Brisk peers add their entry here, and the lines for each
# variant and its ratio to tar follow from this list.
# "streamed" runs between the two installations that verified each other on loopback
# before the runs: known by their keys, they connect through the relay without a code.
read -ra brisk_variants <<<"$relay_variants"
declare -A brisk_options=([plain]="--plain" [streamed]="")

relayed_brisk() {  # relayed_brisk VARIANT ITEM
  port=$relay_port
  local receiver_env="" sender_env="" wait_port=$relay_port
  if [ "$1" = streamed ]; then
    receiver_env="env XDG_CONFIG_HOME='$work/id-receiver'"
    sender_env="env XDG_CONFIG_HOME='$work/id-sender'"
    wait_port=$((relay_port + 101))
  fi
  pair "$recv $receiver_env '$peer' listen --port $port --save-to '$out' --exists again --once ${brisk_options[$1]}" \
    "$send $sender_env '$peer' connect $relay_front --port $port --send '$2' --once ${brisk_options[$1]}" \
    "$wait_port"
}
relayed_tar() {
  port=$relay_port
  pair "$recv socat -u TCP-LISTEN:$port,reuseaddr,bind=$recv_address SYSTEM:'tar -xf - -C $out'" \
    "$send socat -u SYSTEM:'tar -cf - -C $delayed_source tree' TCP:$relay_front:$port"
}
relayed_socat() {
  port=$relay_port
  pair "$recv socat -u -b 1048576 TCP-LISTEN:$port,reuseaddr,bind=$recv_address OPEN:'$out/big.bin',creat,trunc" \
    "$send socat -u -b 1048576 OPEN:'$delayed_big' TCP:$relay_front:$port"
}
# Prints the median, fastest and slowest of about a second of round trips through the relay.
relayed_ping() {  # relayed_ping ONE_WAY_US
  local count=$((1000000 / (2 * $1 + 50)))
  $recv "$ping" serve "$recv_address" "$relay_port" &
  local server=$!
  wait_listening "$relay_port"
  $send "$ping" connect "$relay_front" "$relay_port" "$count"
  wait "$server"
}

listen_ns=$ns_recv
for delay in $delays; do
  delay_us=$(awk -v d="$delay" 'BEGIN { printf "%d", d * 1000 + 0.5 }')
  $(in_ns "$ns_relay") "$relay" --delay-us "$delay_us" --listen "$relay_front" \
    --target "$recv_address" --ports "$relay_port,$((relay_port + 2))-$((relay_port + 101))" \
    >"$work/relay.out" 2>"$work/relay.err" &
  relay_pid=$!
  until ip netns exec "$ns_relay" ss -Hltn "sport = :$((relay_port + 101))" | grep -q .; do
    kill -0 "$relay_pid" || { cat "$work/relay.err" >&2; exit 1; }
    sleep 0.005
  done
  for run in $(seq "$delayed_runs"); do
    echo "through the relay, $delay ms each way: run $run of $delayed_runs..." >&2
    record "ping_$delay" "$(relayed_ping "$delay_us")"
    next_out
    record "tar_$delay" "$(relayed_tar)"
    for variant in "${brisk_variants[@]}"; do
      next_out
      record "brisk_${variant}_tree_$delay" "$(relayed_brisk "$variant" "$delayed_source/tree")"
      diff -r "$delayed_source/tree" "$out/tree" >/dev/null ||
        { echo "tree through the relay differs ($variant)" >&2; exit 1; }
    done
    [ "$delayed_mib" -gt 0 ] || continue
    next_out
    record "socat_$delay" "$(relayed_socat)"
    cmp -s "$delayed_big" "$out/big.bin" || { echo "socat copy through the relay differs" >&2; exit 1; }
    rm -f "$out/big.bin"
    for variant in "${brisk_variants[@]}"; do
      next_out
      record "brisk_${variant}_big_$delay" "$(relayed_brisk "$variant" "$delayed_big")"
      cmp -s "$delayed_big" "$out/big.bin" ||
        { echo "brisk copy through the relay differs ($variant)" >&2; exit 1; }
      rm -f "$out/big.bin"
    done
  done
  kill -TERM "$relay_pid"
  wait "$relay_pid" || true
  relay_pid=""
  relay_report[$delay]=$(cat "$work/relay.out")
done

delayed_bytes=$((delayed_files * 4096))
delayed_folders=$(((delayed_files + 99) / 100 + 1))
for delay in $delays; do
  echo "== Through the delaying relay, $delay ms each way; medians of $delayed_runs runs [each run]"
  awk -v r="$(value 1 "ping_$delay")" -v all="$(median 1 "ping_$delay" | cut -d' ' -f2-)" \
    'BEGIN { printf "  %-22s %7.3f ms %s, measured by a ping-pong through it\n", "round trip", r / 1000, all }'
  echo "  relay: ${relay_report[$delay]}"
  tree_note=""
  [ "$delayed_files" -eq "$tree_files" ] ||
    tree_note=" (smaller than the loopback tree: BRISK_BENCH_DELAYED_FILES=$tree_files for that one)"
  echo "  Tree, $delayed_files files of 4 KiB$tree_note"
  line "tar through socat" "tar_$delay" "$delayed_bytes"
  for variant in "${brisk_variants[@]}"; do
    line "brisk, $variant" "brisk_${variant}_tree_$delay" "$delayed_bytes"
  done
  awk -v r="$(value 1 "ping_$delay")" -v f="$delayed_files" -v d="$delayed_folders" \
    'BEGIN { printf "  %-22s %7.3f s  (2 round trips per file and per folder)\n",
             "protocol bound", r * 2 * (f + d) / 1e6 }'
  for variant in "${brisk_variants[@]}"; do
    ratio "brisk, $variant / tar" "tar_$delay" "brisk_${variant}_tree_$delay"
  done
  [ "$delayed_mib" -gt 0 ] || continue
  echo "  Large file, $delayed_mib MiB"
  line "socat" "socat_$delay" "$((delayed_mib * 1024 * 1024))"
  for variant in "${brisk_variants[@]}"; do
    line "brisk, $variant" "brisk_${variant}_big_$delay" "$((delayed_mib * 1024 * 1024))"
  done
  for variant in "${brisk_variants[@]}"; do
    ratio "brisk, $variant / socat" "socat_$delay" "brisk_${variant}_big_$delay"
  done
done
rm -rf "$work"
