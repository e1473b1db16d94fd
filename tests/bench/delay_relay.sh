#!/usr/bin/env bash
# Checks the benchmark's delaying relay (bench/delay_relay.cpp) on loopback, in a network
# namespace of its own where that is permitted: bytes arrive whole and in order in both
# directions; a half-close passes on after the data before it while the other direction
# goes on; a slow reader holds the relay back instead of losing bytes; 120 connections at
# once over several ports; a round trip never takes less than twice the delay; reads go on
# while earlier chunks wait (a relay that waited out the delay chunk by chunk would take 50
# delays for 50 chunks); a refused target reaches the client as a reset; and the relay keeps
# no descriptor of a connection that ended.
#   tests/bench/delay_relay.sh DELAY_RELAY PING_PONG
# Prints one line per check and "N passed, N failed"; exits 1 on any failure.
set -uo pipefail
relay_bin=$(realpath "$1")
ping_bin=$(realpath "$2")
if [ "${3:-}" != "--inside" ] && unshare --net true 2>/dev/null; then
  exec unshare --net bash "$0" "$relay_bin" "$ping_bin" --inside
fi
[ "${3:-}" != "--inside" ] || ip link set lo up
for tool in socat ss cmp sha256sum; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing"; exit 77; }
done

work=$(mktemp -d /tmp/brisk-relay-check.XXXXXX)
front=127.0.0.2   # where the relay listens
back=127.0.0.3    # where it connects to: the same port there
base=$((40000 + RANDOM % 10000))
delay_ms=20
passed=0
failed=0
servers=()
relay=""
cleanup() {
  local pid
  for pid in "${servers[@]}" $relay; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

check() {  # check NAME CONDITION...: runs the condition, counts and prints the verdict
  local name=$1
  shift
  if "$@"; then
    echo "ok      $name"
    passed=$((passed + 1))
  else
    echo "FAILED  $name"
    failed=$((failed + 1))
  fi
}
now_ms() { date +%s%3N; }
wait_listening() {  # wait_listening ADDRESS PORT (at most 5 s)
  local deadline=$(($(now_ms) + 5000))
  until ss -Hltn "src $1 and sport = :$2" | grep -q .; do
    [ "$(now_ms)" -lt "$deadline" ] || return 1
    sleep 0.01
  done
}
serve() {  # serve PORT SOCAT_ADDRESS: a forking server on the back address
  socat "TCP-LISTEN:$1,bind=$back,reuseaddr,fork,backlog=128" "$2" 2>>"$work/servers.err" &
  servers+=($!)
  wait_listening "$back" "$1"
}
start_relay() {  # start_relay DELAY_MS [OPTIONS...]
  local delay=$1
  shift
  "$relay_bin" --delay-us $((delay * 1000)) --listen "$front" --target "$back" \
    --ports "$base,$((base + 2))-$((base + 101))" --verbose "$@" \
    >"$work/relay.out" 2>"$work/relay.err" &
  relay=$!
  wait_listening "$front" $((base + 101))
}
stop_relay() {
  kill -TERM "$relay"
  wait "$relay"
  relay_status=$?
  relay=""
}
descriptors() { find "/proc/$relay/fd" -mindepth 1 | wc -l; }

head -c $((32 * 1024 * 1024)) /dev/urandom >"$work/big.bin"
start_relay "$delay_ms"
idle_descriptors=$(descriptors)

# An echo server on the control port, one that answers only after the end of what it
# reads with its digest on the first data port, a plain sink on the last port.
serve "$base" EXEC:cat
serve $((base + 2)) SYSTEM:sha256sum
serve $((base + 101)) "SYSTEM:cat >$work/sink.bin"

echo_round() {  # echo_round PORT IN OUT: IN there and back, the reply read after the half-close
  socat -b 65536 -t 60 - "TCP:$front:$1" <"$2" >"$3" 2>>"$work/clients.err"
}
echo_round "$base" "$work/big.bin" "$work/echoed.bin"
check "32 MiB there and back, whole and in order" cmp -s "$work/big.bin" "$work/echoed.bin"

digest=$(socat -t 60 - "TCP:$front:$((base + 2))" <"$work/big.bin" 2>>"$work/clients.err" |
  cut -d' ' -f1)
check "an answer that comes only after the half-close" \
  test "$digest" = "$(sha256sum <"$work/big.bin" | cut -d' ' -f1)"

socat -u "OPEN:$work/big.bin" "TCP:$front:$((base + 101))" 2>>"$work/clients.err"
deadline=$(($(now_ms) + 10000))
until cmp -s "$work/big.bin" "$work/sink.bin" || [ "$(now_ms)" -gt "$deadline" ]; do sleep 0.05; done
check "a close right after the data delivers all of it (last port)" \
  cmp -s "$work/big.bin" "$work/sink.bin"

for port in $((base + 3)) $((base + 4)) $((base + 5)) $((base + 6)); do serve "$port" EXEC:cat; done
many_ok=1
pids=()
for i in $(seq 0 119); do
  head -c $((64 * 1024 + i)) /dev/urandom >"$work/many.$i"
  # Half go to the echo server on the control port, the rest to those on data ports.
  if [ $((i % 2)) -eq 0 ]; then port=$base; else port=$((base + 3 + i % 4)); fi
  echo_round "$port" "$work/many.$i" "$work/many.$i.back" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || many_ok=0; done
for i in $(seq 0 119); do cmp -s "$work/many.$i" "$work/many.$i.back" || many_ok=0; done
check "120 connections at once over five ports, each whole" test "$many_ok" = 1

# The round trip: one byte there and back, never faster than the two delays.
"$ping_bin" serve "$back" $((base + 10)) &
servers+=($!)
wait_listening "$back" $((base + 10))
read -r median fastest slowest < <("$ping_bin" connect "$front" $((base + 10)) 10)
echo "        round trip through ${delay_ms} ms each way: median $median us," \
  "fastest $fastest us, slowest $slowest us"
check "no round trip under twice the delay" \
  awk -v f="${fastest:-0}" -v d="$delay_ms" 'BEGIN { exit !(f >= 2 * d * 1000) }'

# A refused connect: the target does not listen on this port.
check "a refused target ends the client's connection" \
  bash -c "! '$ping_bin' connect $front $((base + 20)) 1 2>/dev/null"

# A client that resets its connection in mid-transfer (closing with unread bytes, as a
# process killed while data comes in does): the relay passes the reset on and lets the
# connection go.
socat -u "OPEN:$work/big.bin" "TCP:$front:$base,linger=0" 2>/dev/null &
writer=$!
sleep 0.2
kill -9 "$writer" 2>/dev/null
wait "$writer" 2>/dev/null

# Every connection has ended: the relay holds its idle descriptors again.
deadline=$(($(now_ms) + 10000))
until [ "$(descriptors)" -le "$idle_descriptors" ] || [ "$(now_ms)" -gt "$deadline" ]; do
  sleep 0.05
done
check "no descriptor left of the connections that ended" \
  test "$(descriptors)" -le "$idle_descriptors"
stop_relay
check "the relay ends cleanly on SIGTERM" test "$relay_status" = 0
summary=$(cat "$work/relay.out")
echo "        relay: $summary"
check "the relay counted the connections, one refused, one reset" \
  grep -q '^delay 20000 us each way; 126 connections (1 refused by the target, 1 reset)' "$work/relay.out"

# Reading goes on while chunks wait: 50 bytes written 5 ms apart cross a 100 ms delay in
# about 0.1 s plus the time they took to write, where a relay that waited out the delay
# for each chunk in turn would need 5 s.
start_relay 100
socat -u "TCP-LISTEN:$((base + 30)),bind=$back,reuseaddr" "OPEN:$work/spaced.out,creat,trunc" &
sink=$!
wait_listening "$back" $((base + 30))
started=$(now_ms)
for i in $(seq 50); do printf x; sleep 0.005; done |
  socat -u - "TCP:$front:$((base + 30))" 2>>"$work/clients.err"
wait "$sink"
took=$(($(now_ms) - started))
echo "        50 chunks 5 ms apart through 100 ms each way: $took ms"
check "50 spaced chunks arrive whole" test "$(cat "$work/spaced.out")" = "$(printf 'x%.0s' $(seq 50))"
check "no chunk waits for the delay of the chunks before it" test "$took" -lt 3000
stop_relay

# A reader slower than the writer, with a queue of 1 MiB at most: the relay stops reading
# instead of growing or losing bytes.
start_relay 5 --max-queue 1048576
socat -u "TCP-LISTEN:$((base + 40)),bind=$back,reuseaddr" \
  "SYSTEM:sleep 1; cat >$work/slow.out" &
sink=$!
wait_listening "$back" $((base + 40))
socat -u "OPEN:$work/big.bin" "TCP:$front:$((base + 40))" 2>>"$work/clients.err"
wait "$sink"
check "a slow reader gets every byte in order" cmp -s "$work/big.bin" "$work/slow.out"
stop_relay

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
