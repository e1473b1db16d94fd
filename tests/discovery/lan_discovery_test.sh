#!/usr/bin/env bash
# Two brisk-peer programs find each other through a system bus and an Avahi daemon of the
# test's own, in network, mount and PID namespaces of its own: only its loopback exists,
# nothing reaches a real network and the machine's own daemon, if any, is not disturbed.
# Usage: lan_discovery_test.sh BRISK_PEER. Exit 77 (skipped) where namespaces or the
# daemons are not available.
set -euo pipefail

peer=$(realpath "$1")
if [ "${2:-}" != "--inside" ]; then
  for tool in unshare dbus-daemon avahi-daemon ip ss; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIPPED: $tool is not installed (scripts/install-deps.sh installs it)"
      exit 77
    fi
  done
  if ! unshare --net --mount --pid --fork --kill-child --mount-proc true 2>/dev/null; then
    echo "SKIPPED: creating network, mount and PID namespaces is not permitted here"
    exit 77
  fi
  # A /proc of the new PID namespace: the leak checker of sanitizer builds reads it.
  exec unshare --net --mount --pid --fork --kill-child --mount-proc bash "$0" "$peer" --inside
fi

work=$(mktemp -d)
# Settings, identities and trust of the test's own: the user's are never read or changed.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
now_ms() { date +%s%3N; }

ip link set lo up
mount -t tmpfs tmpfs /run
mkdir -p /run/dbus /run/avahi-daemon
cat >"$work/avahi.conf" <<'CONF'
[server]
host-name=brisk-test
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
ratelimit-interval-usec=0
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF

start_daemon() {
  avahi-daemon --no-drop-root --no-rlimits --no-chroot -f "$work/avahi.conf" -D 2>>"$work/avahi.log"
}

# Waits until something listens on TCP port $1 (limit 5 s).
wait_listening() {
  local deadline=$(($(now_ms) + 5000))
  until ss -Hltn "sport = :$1" | grep -q .; do
    [ "$(now_ms)" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

# Starts a listener in the background: name for the log, port, then brisk-peer's options.
# Its process id goes to listener_pid.
start_listener() {
  local name=$1 port=$2
  shift 2
  "$peer" listen --plain --port "$port" "$@" </dev/null >"$work/$name.out" 2>&1 &
  listener_pid=$!
  wait_listening "$port" || fail "$name does not listen on $port"
}

# Ends a listener as a person would; a clean end after SIGTERM is status 128 + 15.
stop_listener() {
  local status=0
  kill -TERM "$1"
  wait "$1" || status=$?
  [ "$status" -eq 143 ] || fail "listener $1 ended with status $status after SIGTERM"
}

# Browses until the line $1 is in (present) or out of (absent) the list, within $3 ms.
# Prints how long it took.
wait_for_line() {
  local line=$1 want=$2 limit=$3
  local start
  start=$(now_ms)
  while :; do
    local listed=absent
    if "$peer" peers --wait 1 2>"$work/peers.err" | grep -qxF -- "$line"; then listed=present; fi
    if [ "$listed" = "$want" ]; then
      echo "$((($(now_ms) - start))) ms"
      return 0
    fi
    [ $(($(now_ms) - start)) -lt "$limit" ] || return 1
  done
}

echo "== No system bus, no daemon: peers says why; listen still works"
set +e
"$peer" peers --wait 1 >"$work/none.out" 2>"$work/none.err"
status=$?
set -e
[ "$status" -eq 3 ] || fail "peers without a daemon exits $status, not 3"
[ "$(wc -l <"$work/none.err")" -eq 1 ] || fail "peers without a daemon: $(cat "$work/none.err")"
grep -q "discovery is unavailable: " "$work/none.err" || fail "no reason: $(cat "$work/none.err")"
[ ! -s "$work/none.out" ] || fail "peers without a daemon printed $(cat "$work/none.out")"
echo "peers said: $(cat "$work/none.err")"

start_listener plain 6101 --name "Plain"
"$peer" connect 127.0.0.1 --plain --port 6101 --say "hello over loopback" </dev/null >"$work/connect.out" 2>&1 ||
  fail "connecting to a listener without discovery failed: $(cat "$work/connect.out")"
wait "$listener_pid" || fail "the listener without discovery ended badly: $(cat "$work/plain.out")"
grep -q "hello over loopback" "$work/plain.out" || fail "no chat line: $(cat "$work/plain.out")"

echo "== A listener started before the daemon is announced once the daemon runs"
start_listener early 6102 --name "Early bird"
early_pid=$listener_pid
dbus-daemon --system --fork
start_daemon
took=$(wait_for_line $'Early bird\t127.0.0.1\t6102\t-\t-' present 10000) ||
  fail "a daemon started later was not used: $(cat "$work/early.out")"
echo "found after the daemon started: ${took:-never}"

echo "== A listener is found with name, address and port within 5 s, and gone 5 s after it ends"
start_listener named 6103 --name "Zoë's laptop"
named_pid=$listener_pid
took=$(wait_for_line $'Zoë\'s laptop\t127.0.0.1\t6103\t-\t-' present 5000) ||
  fail "not found within 5 s: $(cat "$work/named.out")"
echo "found: ${took:-never}"
# What a plain listener's announcement carries besides name and port: the protocol's
# version, nothing else.
if command -v avahi-browse >/dev/null; then
  txt=$(timeout 5 avahi-browse --resolve --parsable --terminate _brisk._tcp 2>/dev/null |
    awk -F';' '$1 == "=" && $9 == "6103" { print $10 }' | sort -u)
  [ "$txt" = '"v=1"' ] || fail "the announcement's text records are [$txt], not \"v=1\""
  echo "text records: $txt"
else
  echo "text records not checked: avahi-browse is not installed"
fi
stop_listener "$named_pid"
took=$(wait_for_line $'Zoë\'s laptop\t127.0.0.1\t6103\t-\t-' absent 5000) || fail "still listed 5 s after it ended"
echo "gone: ${took:-never}"

echo "== An encrypted listener announces its encrypted port and key prefix; one it trusts is marked"
XDG_CONFIG_HOME="$work/listener-config" "$peer" listen --port 6107 --name "Secure" \
  </dev/null >"$work/secure.out" 2>&1 &
secure_pid=$!
wait_listening 6107 || fail "the encrypted listener does not listen on 6107"
key=$(XDG_CONFIG_HOME="$work/listener-config" "$peer" id | tr -d ' ')
prefix=${key:0:8}
wait_for_line $'Secure\t127.0.0.1\t6107\t6208\t-' present 5000 >/dev/null ||
  fail "the encrypted listener is not listed with its encrypted port: $(cat "$work/secure.out")"
if command -v avahi-browse >/dev/null; then
  txt=$(timeout 5 avahi-browse --resolve --parsable --terminate _brisk._tcp 2>/dev/null |
    awk -F';' '$1 == "=" && $9 == "6107" { print $10 }' | sort -u)
  for record in '"v=1"' '"sport=6208"' "\"fp=$prefix\""; do
    [[ "$txt" == *"$record"* ]] || fail "the text records [$txt] lack $record"
  done
  echo "text records: $txt"
fi
# This side trusts that key (as after a first contact): the listing marks it.
"$peer" id >/dev/null
store_folder=$(dirname "$(find "$XDG_CONFIG_HOME" -type f | head -n 1)")
printf 'brisk trusted peers 1\n%s\t0\tSecure\t127.0.0.1\n' "${key,,}" \
  >"$store_folder/brisk-trusted-peers.txt"
chmod 600 "$store_folder/brisk-trusted-peers.txt"
wait_for_line $'Secure\t127.0.0.1\t6107\t6208\tverified-prefix' present 5000 >/dev/null ||
  fail "a trusted listener is not marked: $("$peer" peers --wait 1 2>&1)"
stop_listener "$secure_pid"

echo "== --no-announce publishes nothing; a name clash is renamed"
start_listener hidden 6104 --name "Hidden" --no-announce
hidden_pid=$listener_pid
start_listener twin1 6105 --name "Twin"
twin1_pid=$listener_pid
wait_for_line $'Twin\t127.0.0.1\t6105\t-\t-' present 5000 >/dev/null || fail "first twin not found"
start_listener twin2 6106 --name "Twin"
twin2_pid=$listener_pid
wait_for_line $'Twin #2\t127.0.0.1\t6106\t-\t-' present 5000 >/dev/null ||
  fail "second twin not renamed: $(cat "$work/twin2.out")"
"$peer" peers --wait 2 >"$work/all.out"
cat "$work/all.out"
! grep -q "Hidden" "$work/all.out" || fail "--no-announce was announced"
grep -qxF $'Twin\t127.0.0.1\t6105\t-\t-' "$work/all.out" || fail "first twin lost its name"
stop_listener "$hidden_pid"
stop_listener "$twin1_pid"
stop_listener "$twin2_pid"

echo "== A daemon restart is survived"
avahi-daemon -k 2>/dev/null || true
wait_for_line $'Early bird\t127.0.0.1\t6102\t-\t-' absent 5000 >/dev/null || true
deadline=$(($(now_ms) + 5000))
while avahi-daemon -c 2>/dev/null; do
  [ "$(now_ms)" -lt "$deadline" ] || break
  sleep 0.05
done
start_daemon
took=$(wait_for_line $'Early bird\t127.0.0.1\t6102\t-\t-' present 10000) ||
  fail "not announced again after the daemon restarted: $(cat "$work/early.out")"
echo "found again after the restart: ${took:-never}"
stop_listener "$early_pid"

if [ "$failures" -ne 0 ]; then
  echo "== $failures failure(s); avahi-daemon said:"
  cat "$work/avahi.log"
  exit 1
fi
echo "== All passed"
