#!/usr/bin/env bash
# kill -9 of the sending process, then of the receiving one, at random moments of a file
# transfer between two brisk-peer processes; each time a resume must complete the file
# byte for byte. Then too little space on the receiving side (root only: a small tmpfs):
# the offer is refused before anything is written, both sides report failure, neither says
# the transfer is complete, and once space is freed the file is sent whole. (A disk that
# fills during a transfer is a test of the engine's.) A folder is killed and resumed too when brisk-peer can resume
# into an existing folder.
#   tests/fault/kill_resume.sh BRISK_PEER [ROUNDS] [FILE_MIB]
# Prints "sender killed: n/ROUNDS" and "receiver killed: n/ROUNDS"; exits 1 on any failure.
set -uo pipefail
peer="$(realpath "$1")"
rounds="${2:-20}"
file_mib="${3:-256}"
work="$(mktemp -d /tmp/brisk-fault.XXXXXX)"
here="$(dirname "$0")"
# shellcheck source=tests/fault/peers.sh
source "$here/peers.sh"
failures=0
# The shell's own notices of the children it killed are noise here.
exec 3>&2 2>"$work/shell.err"
cleanup() {
  mountpoint -q "$work/small" 2>/dev/null && umount "$work/small"
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/source"
head -c "$((file_mib * 1024 * 1024))" /dev/urandom >"$work/source/big.bin"
file_bytes=$((file_mib * 1024 * 1024))

# Starts a receiver into $1 with the options after it; sets `listener`.
start_receiver() {
  local into="$1"
  shift
  next_port
  "$peer" listen --plain --port "$port" --save-to "$into" --once "$@" >"$work/listen.out" 2>&1 &
  listener=$!
  wait_listening "$port" || echo "receiver did not listen" >&3
}

# Starts a sender of $1; sets `connector`.
start_sender() {
  "$peer" connect 127.0.0.1 --plain --port "$port" --send "$1" --once >"$work/connect.out" 2>&1 &
  connector=$!
}

# Waits until $1 holds at least $2 bytes (or the transfer ended); false when it never did.
wait_for_bytes() {
  local file="$1" target="$2"
  while [ "$(size_of "$file")" -lt "$target" ]; do
    kill -0 "$listener" 2>/dev/null && kill -0 "$connector" 2>/dev/null || return 1
    sleep 0.002
  done
}

# One round: transfer, kill -9 `victim` (sender or receiver) once `target` bytes are in,
# let the other side end, then resume and compare.
kill_and_resume() {
  local victim="$1" target="$2" item="$3" received="$4" status
  rm -rf "$work/in" && mkdir -p "$work/in"
  start_receiver "$work/in" --exists resume
  start_sender "$item"
  if wait_for_bytes "$received" "$target"; then
    if [ "$victim" = sender ]; then kill -9 "$connector"; else kill -9 "$listener"; fi
    kills=$((kills + 1))
  fi
  wait_for "$connector" 60
  wait_for "$listener" 60
  local before
  before=$(size_of "$received")
  # The resume: a single file is accepted as the continuation of the partial one; a
  # folder is sent again into the same place and every existing file resumed.
  if [ -d "$item" ]; then
    start_receiver "$work/in" --exists resume
  else
    start_receiver "$work/in" --resume --exists resume
  fi
  start_sender "$item"
  local sent got
  wait_for "$connector" 120; sent=$status
  wait_for "$listener" 120; got=$status
  if [ "$sent" = 0 ] && [ "$got" = 0 ] && diff -r "$item" "$work/in/$(basename "$item")" >/dev/null
  then
    return 0
  fi
  echo "  round failed: $victim killed at $before bytes; exit $sent/$got" >&3
  tail -n 3 "$work/connect.out" "$work/listen.out" >&3
  return 1
}

run_rounds() {
  local victim="$1" item="$2" received="$3" total="$4" passed=0 i target
  kills=0
  for ((i = 0; i < rounds; i++)); do
    # A random moment: somewhere between the first bytes and nearly the end.
    target=$(((RANDOM * 32768 + RANDOM) % (total * 95 / 100) + 1))
    kill_and_resume "$victim" "$target" "$item" "$received" && passed=$((passed + 1))
  done
  echo "$victim killed: $passed/$rounds resumed byte-identical ($kills killed mid-transfer," \
    "the rest had ended first)"
  [ "$passed" -eq "$rounds" ] || failures=$((failures + 1))
}

echo "== kill -9 during a ${file_mib} MiB file, then --resume"
run_rounds sender "$work/source/big.bin" "$work/in/big.bin" "$file_bytes"
run_rounds receiver "$work/source/big.bin" "$work/in/big.bin" "$file_bytes"

# Resuming into an existing folder: probe whether this build can, with a tiny folder.
mkdir -p "$work/probe/tree" && echo probe >"$work/probe/tree/a.txt"
rm -rf "$work/in" && mkdir -p "$work/in"
for attempt in 1 2; do
  start_receiver "$work/in" --exists resume
  start_sender "$work/probe/tree"
  wait_for "$connector" 30; probe_sent=$status
  wait_for "$listener" 30; probe_got=$status
done
if [ "$probe_sent" = 0 ] && [ "$probe_got" = 0 ]; then
  echo "== kill -9 during a folder, then the folder sent again with --exists resume"
  mkdir -p "$work/source/folder/sub"
  for i in 1 2 3 4; do
    head -c "$((file_mib * 1024 * 1024 / 8))" /dev/urandom >"$work/source/folder/f$i.bin"
    head -c "$((file_mib * 1024 * 1024 / 8))" /dev/urandom >"$work/source/folder/sub/g$i.bin"
  done
  # The kill moment is counted in the bytes of the first file of the folder.
  run_rounds sender "$work/source/folder" "$work/in/folder/f1.bin" "$((file_bytes / 8))"
  run_rounds receiver "$work/source/folder" "$work/in/folder/f1.bin" "$((file_bytes / 8))"
else
  echo "== folder resume: skipped, a folder sent again into an existing one does not complete"
fi

echo "== too little space on the receiving side"
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: mounting a small file system needs root"
else
  mkdir -p "$work/small"
  mount -t tmpfs -o size=48m brisk-fault "$work/small"
  head -c $((16 * 1024 * 1024)) /dev/zero >"$work/small/filler"
  head -c $((48 * 1024 * 1024)) /dev/urandom >"$work/source/disk.bin"
  start_receiver "$work/small"
  start_sender "$work/source/disk.bin"
  wait_for "$connector" 60; sent=$status
  wait_for "$listener" 60; got=$status
  outcome="ok"
  if [ "$sent" = 0 ] || [ "$got" = 0 ]; then
    echo "  a side said the transfer completed: sender exit $sent, receiver exit $got" >&3
    outcome="wrong"
  fi
  if grep -q "传送完毕！" "$work/connect.out" "$work/listen.out"; then
    echo "  传送完毕！ was shown although the disk was full:" >&3
    grep -H "传送完毕！" "$work/connect.out" "$work/listen.out" >&3
    outcome="wrong"
  fi
  # The offer does not fit the free space: it is refused before a byte is written.
  if ! grep -q "磁盘空间不足" "$work/listen.out" || [ -e "$work/small/disk.bin" ]; then
    echo "  the offer that cannot fit was not refused before writing" >&3
    outcome="wrong"
  fi
  echo "  refused for the free space; sender exit $sent, receiver exit $got"
  rm -f "$work/small/filler"
  start_receiver "$work/small" --resume
  start_sender "$work/source/disk.bin"
  wait_for "$connector" 60; sent=$status
  wait_for "$listener" 60; got=$status
  if [ "$sent" = 0 ] && [ "$got" = 0 ] && cmp -s "$work/source/disk.bin" "$work/small/disk.bin"; then
    echo "  after freeing space the resume completed the file byte-identical"
  else
    echo "  the resume after freeing space failed: exit $sent/$got" >&3
    outcome="wrong"
  fi
  echo "full disk: $outcome"
  [ "$outcome" = ok ] || failures=$((failures + 1))
fi

[ "$failures" -eq 0 ]
