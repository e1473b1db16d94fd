#!/usr/bin/env bash
# kill -9 of the sending process, then of the receiving one, at random moments of a file
# transfer between two brisk-peer processes; each time a resume must complete the file
# byte for byte, and the side that was not killed must not call the killed transfer
# complete. The same in an encrypted session between two verified peers, whose transfers
# are streamed, for a large file and for a folder of many small files and one large one:
# there every file found partly there must continue from its size (its start checked on
# both sides), never start again. Then too little space on the receiving side (root only: a small tmpfs):
# the offer is refused before anything is written, both sides report failure, neither says
# the transfer is complete, and once space is freed the file is sent whole. (A disk that
# fills during a transfer is a test of the engine's.) A folder is killed and resumed too when brisk-peer can resume
# into an existing folder.
#   tests/fault/kill_resume.sh BRISK_PEER [ROUNDS] [FILE_MIB]
# Prints "sender killed: n/ROUNDS" and "receiver killed: n/ROUNDS" for each case; exits 1
# on any failure.
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

# How the pairs connect: "plain" (the plain port) or "encrypted" (a session between the two
# verified identities below, with --json events on standard output and the lines a person
# reads on standard error).
mode=plain

# Becomes brisk-peer as side $1 (receiver or sender) in the current mode: started in the
# background, its process is the one `kill -9` ends.
run_peer() {
  local side="$1"
  shift
  if [ "$mode" = plain ]; then
    exec "$peer" "$@" --plain
  else
    XDG_CONFIG_HOME="$work/id-$side" exec "$peer" "$@" --json
  fi
}

# Starts a receiver into $1 with the options after it; sets `listener`.
start_receiver() {
  local into="$1"
  shift
  # The encrypted port is 101 above the control port.
  next_port 110
  run_peer receiver listen --port "$port" --save-to "$into" --once "$@" \
    >"$work/listen.out" 2>"$work/listen.err" &
  listener=$!
  wait_listening "$([ "$mode" = plain ] && echo "$port" || echo $((port + 101)))" ||
    echo "receiver did not listen" >&3
}

# Starts a sender of $1 with the options after it; sets `connector`.
start_sender() {
  local item="$1"
  shift
  run_peer sender connect 127.0.0.1 --port "$port" --send "$item" --once "$@" \
    >"$work/connect.out" 2>"$work/connect.err" &
  connector=$!
}

# The bytes below $1, a file or a folder.
bytes_of() {
  if [ -d "$1" ]; then du -sb "$1" | cut -f1; else size_of "$1"; fi
}

# Waits until $1 holds at least $2 bytes (or the transfer ended); false when it never did.
wait_for_bytes() {
  local file="$1" target="$2"
  while [ "$(bytes_of "$file")" -lt "$target" ]; do
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
  wait_for "$connector" 60; local sent=$status
  wait_for "$listener" 60; local got=$status
  local copy
  copy="$work/in/$(basename "$item")"
  # The side left running may call the transfer complete only when it was: the kill came
  # after the last byte and its acknowledgement.
  if claims_complete "$sent" "$got" && ! diff -r "$item" "$copy" >/dev/null 2>&1; then
    echo "  round failed: $victim killed, and a side said complete (exit $sent/$got)" >&3
    show_outputs
    return 1
  fi
  local before
  before=$(bytes_of "$received")
  # What is there, file by file, for the check that each continues from its size.
  find "$work/in" -type f -size +0 -printf '%p %s\n' | sort >"$work/partial.txt"
  # The resume: a single file is accepted as the continuation of the partial one; a
  # folder is sent again into the same place and every existing file resumed.
  if [ -d "$item" ]; then
    start_receiver "$work/in" --exists resume
  else
    start_receiver "$work/in" --resume --exists resume
  fi
  start_sender "$item"
  wait_for "$connector" 120; sent=$status
  wait_for "$listener" 120; got=$status
  if [ "$sent" = 0 ] && [ "$got" = 0 ] && diff -r "$item" "$copy" >/dev/null && resumed_each; then
    return 0
  fi
  echo "  round failed: $victim killed at $before bytes; exit $sent/$got" >&3
  show_outputs
  return 1
}

# Whether either side of the last pair said its transfer completed: exit status 0 ($1 the
# sender's, $2 the receiver's) or the verdict line.
claims_complete() {
  [ "$1" = 0 ] || [ "$2" = 0 ] ||
    grep -qs "传送完毕！" "$work/connect.out" "$work/connect.err" "$work/listen.out" "$work/listen.err"
}

# In an encrypted session: every file listed in partial.txt continued from its size (the
# receiver's resume event follows the file's transfer event), and no side started a file
# again for want of a matching start.
resumed_each() {
  [ "$mode" = encrypted ] || return 0
  if grep -qs "不是这个文件的开头" "$work/connect.err" "$work/listen.err"; then
    echo "  a partial file was sent again from its start" >&3
    return 1
  fi
  sed -n 's/.*"event":"transfer".*"file":"\([^"]*\)".*/T \1/p; s/.*"event":"resume".*"offset":\([0-9]*\).*/R \1/p' \
    "$work/listen.out" | awk '$1 == "T" { file = $2 } $1 == "R" { print file, $2 }' |
    sort >"$work/resumed.txt"
  cmp -s "$work/partial.txt" "$work/resumed.txt" && return 0
  echo "  the files there before (path, size) and the resumes (path, offset) differ:" >&3
  diff "$work/partial.txt" "$work/resumed.txt" | head -n 6 >&3
  return 1
}

show_outputs() {
  local f
  for f in connect.out connect.err listen.out listen.err; do
    [ -s "$work/$f" ] && tail -n 3 "$work/$f" >&3
  done
}

# run_rounds VICTIM ITEM RECEIVED TOTAL [EARLY]: with EARLY, the second kill of every three
# comes within the first EARLY bytes (the many small files of a folder, whatever their
# order), so that two rounds have one.
run_rounds() {
  local victim="$1" item="$2" received="$3" total="$4" early="${5:-0}" passed=0 i target span
  kills=0
  for ((i = 0; i < rounds; i++)); do
    # A random moment: somewhere between the first bytes and nearly the end.
    span=$((total * 95 / 100))
    [ "$early" -gt 0 ] && [ $((i % 3)) = 1 ] && span=$early
    target=$(((RANDOM * 32768 + RANDOM) % span + 1))
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

# Two identities of their own, verified to each other once; every session after that is
# encrypted and its transfers streamed.
mode=encrypted
mkdir -p "$work/trust" "$work/trusted" && echo hello >"$work/trust/hello.txt"
start_receiver "$work/trusted" --trust-first-contact
start_sender "$work/trust/hello.txt" --trust-first-contact
wait_for "$connector" 30; trust_sent=$status
wait_for "$listener" 30; trust_got=$status
if [ "$trust_sent" = 0 ] && [ "$trust_got" = 0 ] && grep -q "连接已加密" "$work/listen.err"; then
  echo "== kill -9 during a ${file_mib} MiB file, encrypted and streamed, then --resume"
  run_rounds sender "$work/source/big.bin" "$work/in/big.bin" "$file_bytes"
  run_rounds receiver "$work/source/big.bin" "$work/in/big.bin" "$file_bytes"
  # Many small files (in folders of 100) and one large one; the kill comes anywhere in it.
  echo "== kill -9 during a folder of 300 small files and a ${file_mib} MiB file, encrypted"
  mkdir -p "$work/source/mixed"
  for ((i = 0; i < 300; i++)); do
    mkdir -p "$work/source/mixed/d$((i / 100))"
    head -c "$((RANDOM % 32768 + 1))" /dev/urandom >"$work/source/mixed/d$((i / 100))/s$i.bin"
  done
  cp "$work/source/big.bin" "$work/source/mixed/big.bin"
  mixed_bytes=$(bytes_of "$work/source/mixed")
  small_bytes=$((mixed_bytes - file_bytes))
  run_rounds sender "$work/source/mixed" "$work/in/mixed" "$mixed_bytes" "$small_bytes"
  run_rounds receiver "$work/source/mixed" "$work/in/mixed" "$mixed_bytes" "$small_bytes"
else
  echo "  the two identities did not verify each other: exit $trust_sent/$trust_got" >&3
  show_outputs
  failures=$((failures + 1))
fi
mode=plain

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
  if grep -qs "传送完毕！" "$work/connect.out" "$work/listen.out" "$work/connect.err" \
    "$work/listen.err"; then
    echo "  传送完毕！ was shown although the disk was full:" >&3
    grep -Hs "传送完毕！" "$work/connect.out" "$work/listen.out" "$work/connect.err" \
      "$work/listen.err" >&3
    outcome="wrong"
  fi
  # The offer does not fit the free space: it is refused before a byte is written.
  if ! grep -qs "磁盘空间不足" "$work/listen.out" "$work/listen.err" ||
    [ -e "$work/small/disk.bin" ]; then
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
