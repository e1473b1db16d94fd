#!/usr/bin/env bash
# Load on a listening brisk-peer process: 100 files offered at once, 99 of them (the most)
# accepted and byte-identical, one more refused for too many transfers, with each side's
# peak memory; then SEQUENTIAL offers one after another on one connection, with memory and
# open descriptors after the first hundred and at the end.
#   tests/load/many_offers.sh BRISK_PEER OFFER_LOOP [FILE_MIB] [SEQUENTIAL] [OFFER_PAUSE_MS]
# OFFER_LOOP is the brisk_offer_loop driver built with the tests: the sending side, an
# engine of its own. OFFER_PAUSE_MS is its pause after each offer, the program's own
# (1000 ms) when not given; a short one makes the run quick and checks the same.
set -uo pipefail
peer="$(realpath "$1")"
loop="$(realpath "$2")"
file_mib="${3:-4}"
sequential="${4:-1000}"
pause=()
[ -z "${5:-}" ] || pause=(--offer-pause "$5")
work="$(mktemp -d /tmp/brisk-load.XXXXXX)"
here="$(dirname "$0")"
# shellcheck source=tests/fault/peers.sh
source "$here/../fault/peers.sh"
trap 'rm -rf "$work"' EXIT
failures=0

mkdir -p "$work/source" "$work/in"
files=()
for i in $(seq 1 100); do
  head -c "$((file_mib * 1024 * 1024))" /dev/urandom >"$work/source/f$i.bin"
  files+=("$work/source/f$i.bin")
done

echo "== 100 offers of ${file_mib} MiB made at once (they go out ${5:-1000} ms apart)"
next_port
# Its standard input stays open: the offers come one pause apart, and a listener whose
# input has closed ends when nothing is under way.
/usr/bin/time -f "%M" -o "$work/listen.rss" \
  "$peer" listen --plain --port "$port" --save-to "$work/in" < <(sleep 100000) >"$work/listen.out" 2>&1 &
listener=$!
wait_listening "$port"
# The listener is held stopped until the sender has made all its offers: otherwise the
# first transfers can end (and free their slots) before the hundredth offer is made, and
# fewer than 99 would be under way at once. The kernel completes the connection meanwhile.
listening_peer=$(pgrep -P "$listener" -x brisk-peer)
kill -STOP "$listening_peer"
start=$SECONDS
: >"$work/connect.out"   # read below before the driver may have opened it
/usr/bin/time -f "%M" -o "$work/connect.rss" \
  "$loop" "${pause[@]}" --at-once "$port" "${files[@]}" >"$work/connect.out" 2>&1 &
sender=$!
deadline=$((SECONDS + 60))
until grep -q "同时传送的文件太多" "$work/connect.out" || [ "$SECONDS" -ge "$deadline" ]; do
  sleep 0.05
done
kill -CONT "$listening_peer"
wait "$sender"
elapsed=$((SECONDS - start))
# The receiver ends when the sender closes the connection.
wait_for "$listener" 20
identical=0
for i in $(seq 1 100); do
  cmp -s "$work/source/f$i.bin" "$work/in/f$i.bin" && identical=$((identical + 1))
done
complete=$(sed -n 's|^complete: \([0-9]*\)/.*|\1|p' "$work/connect.out")
refused=$(grep -c "同时传送的文件太多" "$work/connect.out")
echo "byte-identical: $identical/99; complete on the sending side: ${complete:-0}/99;" \
  "too-many notices: $refused; ${elapsed} s"
echo "peak memory: sender $(($(cat "$work/connect.rss") / 1024)) MiB," \
  "receiver $(($(cat "$work/listen.rss") / 1024)) MiB"
if [ "$identical" -ne 99 ] || [ "${complete:-0}" -ne 99 ] || [ "$refused" -ne 1 ]; then
  failures=$((failures + 1))
  grep -v "同时传送的文件太多" "$work/connect.out" | sort | uniq -c | head >&2
  grep "提示信息" "$work/listen.out" | sort | uniq -c | head >&2
fi

echo "== $sequential offers one after another on one connection"
rm -rf "$work/in" && mkdir -p "$work/in"
next_port 101
# Its standard input stays open, so that it waits between offers instead of ending.
"$peer" listen --plain --port "$port" --save-to "$work/in" --exists again < <(sleep 100000) \
  >/dev/null 2>"$work/listen.err" &
listener=$!
wait_listening "$port"
"$loop" "${pause[@]}" "$port" "$work/source/f1.bin" "$sequential" "$listener" | tee "$work/loop.out"
[ "${PIPESTATUS[0]}" -eq 0 ] || failures=$((failures + 1))
kill "$listener" 2>/dev/null
wait_for "$listener" 20
# No leak: no descriptor more than after the first hundred, memory within a small margin.
# Fields of a line: after N: sender: KIB KiB, FDS fds receiver: KIB KiB, FDS fds
awk '/^after/ { s[++n] = $4 + 0; sf[n] = $6 + 0; r[n] = $9 + 0; rf[n] = $11 + 0 }
     END {
       if (n < 2) exit 1
       leak = sf[2] > sf[1] || rf[2] > rf[1] || s[2] > s[1] + 2048 || r[2] > r[1] + 2048
       printf "growth from the 100th on: sender %+d KiB, %+d fds; receiver %+d KiB, %+d fds\n",
              s[2] - s[1], sf[2] - sf[1], r[2] - r[1], rf[2] - rf[1]
       exit leak
     }' "$work/loop.out" || failures=$((failures + 1))

[ "$failures" -eq 0 ]
