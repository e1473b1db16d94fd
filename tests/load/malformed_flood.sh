#!/usr/bin/env bash
# A hostile peer's flood of malformed control messages against an unattended inbox: MIB
# MiB of "TRANSFILE:STOP:\r\n" (no Index), then one chat line. Prints how long the inbox
# took to read everything up to that line, and fails when it took more than LIMIT seconds
# or when the inbox did not take the next peer afterwards.
#   tests/load/malformed_flood.sh BRISK_PEER [MIB] [LIMIT]
set -uo pipefail
peer="$(realpath "$1")"
mib="${2:-1}"
limit="${3:-2}"
work="$(mktemp -d /tmp/brisk-flood.XXXXXX)"
here="$(dirname "$0")"
# shellcheck source=tests/fault/peers.sh
source "$here/../fault/peers.sh"
trap 'kill "$inbox" 2>/dev/null; rm -rf "$work"' EXIT

next_port
mkdir -p "$work/in"
"$peer" listen --keep --plain --accept-anyone --port "$port" --no-announce --save-to "$work/in" \
  </dev/null >"$work/inbox.out" 2>&1 &
inbox=$!
wait_listening "$port" || { echo "the inbox does not listen"; exit 1; }

python3 - "$port" "$mib" "$limit" "$work/inbox.out" <<'PY'
import socket, sys, time
port, mib, limit, output = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
message = b"TRANSFILE:STOP:\r\n"
flood = message * (mib * 1024 * 1024 // len(message))
start = time.monotonic()
with socket.create_connection(("127.0.0.1", port)) as s:
    s.sendall(flood + b"after the flood\r\n")
    deadline = start + 60
    while time.monotonic() < deadline:
        with open(output, "rb") as f:
            if b"after the flood" in f.read():
                break
        time.sleep(0.01)
    took = time.monotonic() - start
print(f"{len(flood) // len(message)} malformed messages ({mib} MiB) read in {took:.2f} s")
# The inbox listens again once the flooding peer has gone, and takes the next one.
deadline = time.monotonic() + 10
while True:
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=10)
        break
    except ConnectionRefusedError:
        if time.monotonic() > deadline:
            print("the inbox does not listen again")
            sys.exit(1)
        time.sleep(0.02)
with s:
    s.sendall(b"the next peer\r\n")
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        with open(output, "rb") as f:
            if b"the next peer" in f.read():
                break
        time.sleep(0.01)
    else:
        print("the next peer was not taken")
        sys.exit(1)
sys.exit(0 if took <= limit else 1)
PY
