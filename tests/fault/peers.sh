# Helpers shared by the fault and load scripts: start two brisk-peer processes on loopback
# and wait for what they do. Source it after setting `peer` (the brisk-peer binary) and
# `work` (a scratch folder).

# Control ports above the system's range for outgoing connections (32768-60999 by
# default), so that no local end of another connection holds a data port; each transfer's
# data port is the control port + its Index + 1.
port=$((61000 + RANDOM % 4000))

# The next control port, $1 (default 7) above the last one, clear of its data ports.
next_port() {
  port=$((port + ${1:-7}))
  [ "$port" -lt 65300 ] || port=$((61000 + RANDOM % 1000))
}

# Waits until something listens on $1 (at most 10 s).
wait_listening() {
  local deadline=$((SECONDS + 10))
  until ss -Hltn "sport = :$1" | grep -q .; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.01
  done
}

# Waits for process $1 (a child of this shell) to end within $2 seconds, killing it
# otherwise; sets `status` to its exit status.
wait_for() {
  local pid="$1" limit="$2" deadline
  status=0
  deadline=$((SECONDS + limit))
  while kill -0 "$pid" 2>/dev/null; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      kill -9 "$pid" 2>/dev/null || true
      break
    fi
    sleep 0.02
  done
  wait "$pid" 2>/dev/null || status=$?
}

# Size of file $1 in bytes, 0 while it does not exist.
size_of() {
  stat -c %s "$1" 2>/dev/null || echo 0
}
