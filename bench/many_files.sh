#!/usr/bin/env bash
# One offer of many small files between two Brisk processes over loopback: whether a long
# folder keeps its pace and its memory. Run by a person (minutes, not part of CI).
#
#   bench/many_files.sh [FILES] [PER_FOLDER] [FILE_BYTES]   defaults: 100000, 1000, 1024
#
# Makes the tree once (in $BRISK_BENCH_DIR, /tmp/brisk-many by default, removed at the
# end), then sends it as one offer
#   - between two brisk-peer processes that verified each other first (encrypted);
#   - between two brisk-peer processes in a plain session, for comparison;
#   - from the window, `brisk`, to a listening brisk-peer (encrypted, verified), with the
#     window's stall report (BRISK_REPORT_STALLS), under a display of its own (xvfb-run and
#     openbox; xdotool presses its Connect button, `brisk --send` names the folder).
# For each: the whole time from start to exit, files per second overall and in the first
# and the last tenth of the files (from the receiver's --json events and their times), the
# last tenth's rate over the first's, and the peak memory of each side. Every
# received tree is compared with the one sent.
set -euo pipefail
cd "$(dirname "$0")/.."
files="${1:-100000}"
per_folder="${2:-1000}"
file_bytes="${3:-1024}"
work="${BRISK_BENCH_DIR:-/tmp/brisk-many}"
rates="$PWD/bench/file_rates.py"

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRISK_BUILD_TESTS=OFF >/dev/null
cmake --build build/release --target brisk-peer brisk >/dev/null
peer="$PWD/build/release/src/app/brisk-peer"
window="$PWD/build/release/src/app/brisk"

rm -rf "$work"
mkdir -p "$work/source" "$work/in"
source bench/memory_reclaim.sh
trap 'rm -rf "$work"; restore_memory_reclaim' EXIT
hold_memory_reclaim
echo "making $files files of $file_bytes bytes, $per_folder to a folder..." >&2
python3 "$rates" tree "$work/source/tree" "$files" "$per_folder" "$file_bytes"
port=$((47000 + RANDOM % 2000))

wait_listening() {  # wait_listening PORT PID: until PORT listens, or PID has ended
  until ss -Hltn "sport = :$1" | grep -q .; do
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.01
  done
}

# prints "files overall first last ratio" of the receiver's events, and checks the tree.
check_and_rate() {  # check_and_rate OUT EVENTS
  diff -r "$work/source/tree" "$1/tree" >/dev/null || { echo "the received tree differs ($1)" >&2; exit 1; }
  python3 "$rates" rates "$2"
}

# Sends the tree between two brisk-peer processes; OPTIONS go to both. Prints
# "wall_seconds receiver_kib sender_kib" and the rates.
peer_pair() {  # peer_pair NAME OPTIONS...
  local name="$1"
  shift
  local out="$work/in/$name" start end listener
  mkdir -p "$out"
  start=$(date +%s.%N)
  XDG_CONFIG_HOME="$work/id-receiver" /usr/bin/time -f %M -o "$work/$name.receiver.kib" \
    "$peer" listen --port "$port" --save-to "$out" --exists again --once --json "$@" \
    >"$work/$name.events" 2>"$work/$name.receiver.log" &
  listener=$!
  wait_listening "$port" "$listener"
  XDG_CONFIG_HOME="$work/id-sender" /usr/bin/time -f %M -o "$work/$name.sender.kib" \
    "$peer" connect 127.0.0.1 --port "$port" --send "$work/source/tree" --once "$@" >/dev/null
  wait "$listener"
  end=$(date +%s.%N)
  port=$((port + 3))
  echo "$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }') \
$(tail -n 1 "$work/$name.receiver.kib") $(tail -n 1 "$work/$name.sender.kib")"
  check_and_rate "$out" "$work/$name.events"
}

# The two installations verify each other once, and every later session recognises the
# other side; the window runs in the sending one.
one="$work/one.bin"
head -c 1 /dev/urandom >"$one"
verify() {  # verify RECEIVER_HOME SENDER_HOME
  local out="$work/in/verify-$RANDOM"
  mkdir -p "$out"
  XDG_CONFIG_HOME="$1" "$peer" listen --port "$port" --save-to "$out" --once --trust-first-contact \
    >/dev/null 2>&1 &
  local listener=$!
  wait_listening "$((port + 101))" "$listener"
  XDG_CONFIG_HOME="$2" "$peer" connect 127.0.0.1 --port "$port" --send "$one" --once \
    --trust-first-contact >/dev/null 2>&1
  wait "$listener"
  port=$((port + 3))
  [ -e "$out/one.bin" ] || { echo "the pair did not verify each other" >&2; exit 1; }
}
verify "$work/id-receiver" "$work/id-sender"

# Every run starts from the page cache.
tar -cf - -C "$work/source" tree >/dev/null

report() {  # report LABEL "wall rss_receiver rss_sender" "files overall first last ratio"
  read -r wall rkib skib <<<"$(head -n 1 <<<"$2")"
  read -r n overall first last ratio <<<"$3"
  printf '  %-34s %7.2f s  %6.0f files/s  (first tenth %6.0f, last tenth %6.0f, ratio %s)\n' \
    "$1" "$wall" "$overall" "$first" "$last" "$ratio"
  awk -v l="  peak memory" -v r="$rkib" -v s="$skib" \
    'BEGIN { printf "  %-34s receiver %.1f MiB, sender %.1f MiB\n", l, r / 1024, s / 1024 }'
  [ "$n" -eq "$files" ] || echo "  (the receiver named $n files of $files)"
}

echo "sending the tree between two verified brisk-peer processes..." >&2
enc=$(peer_pair encrypted)
echo "sending it in a plain session..." >&2
plain=$(peer_pair plain --plain)

# The window sends: its settings name the receiver, `brisk --send` hands it the folder, and
# the press of Connect starts the session and the offer.
window_run() {
  local out="$work/in/window" listener shown start end
  mkdir -p "$out" "$work/id-sender/Software"
  # Every setting the window reads, so that it starts without a question.
  printf '[General]\nipa=127.0.0.1\nport=%d\nautoclose=1\nzoomed=0\nwidth=400\nheight=460\nStayOnTop=0\n' \
    "$port" >"$work/id-sender/Software/socket.ini"
  XDG_CONFIG_HOME="$work/id-receiver" /usr/bin/time -f %M -o "$work/window.receiver.kib" \
    "$peer" listen --port "$port" --save-to "$out" --exists again --once --json \
    >"$work/window.events" 2>"$work/window.receiver.log" &
  listener=$!
  wait_listening "$((port + 101))" "$listener"
  start=$(date +%s.%N)
  xvfb-run -a -s '-screen 0 1280x800x24' bash -c '
    openbox >/dev/null 2>&1 &
    # A window mapped while the window manager starts may stay unmapped.
    until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do sleep 0.05; done
    XDG_CONFIG_HOME="$1" BRISK_REPORT_STALLS="$2" /usr/bin/time -f %M -o "$3" \
      "$4" --send "$5" >/dev/null 2>&1 &
    program=$!
    until brisk=$(pgrep -P "$program" -x brisk); do sleep 0.01; done
    deadline=$((SECONDS + 60))
    give_up() { echo "the window did not $1 within a minute" >&2; kill -TERM "$brisk"; exit 1; }
    until main=$(xdotool search --onlyvisible --pid "$brisk" --name "^File Transfer" | head -n 1)
      [ -n "$main" ]
    do
      [ "$SECONDS" -lt "$deadline" ] || give_up show
      sleep 0.05
    done
    # Connect is pressed again until the receiver reports the session: the window manager
    # may still be placing the window at the first press.
    until grep -q "\"state\":\"connected\"" "$7"; do
      [ "$SECONDS" -lt "$deadline" ] || give_up connect
      xdotool mousemove --window "$main" 250 65 click 1
      for _ in $(seq 20); do grep -q "\"state\":\"connected\"" "$7" && break; sleep 0.05; done
    done
    while kill -0 "$6" 2>/dev/null; do sleep 0.05; done
    kill -TERM "$brisk"
    wait "$program"
  ' window-run "$work/id-sender" "$work/window.stalls" "$work/window.sender.kib" "$window" \
    "$work/source/tree" "$listener" "$work/window.events" || { pkill -P "$listener"; exit 1; }
  end=$(date +%s.%N)
  port=$((port + 3))
  echo "$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }') \
$(tail -n 1 "$work/window.receiver.kib") $(tail -n 1 "$work/window.sender.kib")"
  check_and_rate "$out" "$work/window.events"
}
echo "sending it from the window..." >&2
win=$(window_run)

echo "== One offer of $files files of $file_bytes bytes, $per_folder to a folder"
report "brisk-peer to brisk-peer, encrypted" "$(head -n 1 <<<"$enc")" "$(tail -n 1 <<<"$enc")"
report "brisk-peer to brisk-peer, plain" "$(head -n 1 <<<"$plain")" "$(tail -n 1 <<<"$plain")"
report "window to brisk-peer, encrypted" "$(head -n 1 <<<"$win")" "$(tail -n 1 <<<"$win")"
echo "  window's thread (ticks every 10 ms): $(tr '\n' ' ' <"$work/window.stalls")"
