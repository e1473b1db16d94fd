#!/usr/bin/env bash
# Installs the Debian package into a freshly made Debian 12 (bookworm) root, as someone would
# on a new computer with `apt install ./brisk_*.deb`, and shows that it runs there: the
# manual's usage line, the files a desktop reads, a folder sent between two brisk-peer
# processes over loopback, and the window program started and ended without a display.
#
#   scripts/install-check.sh [PACKAGE.deb]
#   scripts/install-check.sh --make-root
#
# PACKAGE defaults to the one build/package/brisk_*.deb that scripts/package-check.sh builds;
# this script never builds it. It needs root (debootstrap, chroot, mounts); run otherwise, it
# prints "skipped: needs root" and succeeds. It needs debootstrap (scripts/install-deps.sh).
#
# The root is made in build/debian12-root with `debootstrap --variant=minbase` from the
# mirror the host's own apt sources name (http://deb.debian.org/debian when they name none),
# so it works wherever the host reaches its mirror. Each run removes it and makes it anew,
# which downloads about 45 MB and takes a minute or two. --make-root only makes that fresh
# root and stops, so that it can be made while the package is still being built (CI runs
# it in the background); the next run installs into it, as it is the same root that run
# would have made, nothing installed in it yet. While working on this script,
# BRISK_KEEP_ROOT=1 reuses a root an earlier run made and only removes the package (and
# what it pulled in) before installing it again. The root is left in place after the run.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: needs root"
  exit 0
fi

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

make_root_only=0
if [ "${1:-}" = --make-root ]; then
  make_root_only=1
  shift
fi

# --- The package to install
if [ "$make_root_only" = 1 ]; then
  package=""
elif [ $# -ge 1 ]; then
  package=$1
else
  shopt -s nullglob
  candidates=(build/package/brisk_*.deb)
  shopt -u nullglob
  [ ${#candidates[@]} -gt 0 ] ||
    fail "no package in build/package (brisk_*.deb): run scripts/package-check.sh first, or name one"
  [ ${#candidates[@]} -eq 1 ] ||
    fail "several packages in build/package (${candidates[*]}): name the one to check"
  package=${candidates[0]}
fi
if [ -n "$package" ]; then
  [ -f "$package" ] || fail "no such package: $package"
  package=$(realpath "$package")
  package_name=$(basename "$package")
  dpkg-deb --field "$package" Package >/dev/null 2>&1 || fail "not a Debian package: $package"
  package_arch=$(dpkg-deb --field "$package" Architecture)
  host_arch=$(dpkg --print-architecture)
  [ "$package_arch" = "$host_arch" ] || [ "$package_arch" = all ] ||
    fail "$package_name is for $package_arch; this computer makes $host_arch roots"
fi

for tool in debootstrap chroot findmnt mountpoint; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/install-deps.sh"
done

root="$PWD/build/debian12-root"
made_marker="$root/.brisk-root-complete"   # written once debootstrap has finished
fresh_marker="$root/.brisk-root-fresh"     # --make-root's root, nothing installed in it yet
work=/tmp/brisk-check                      # inside the root
host_work="$root$work"
log="$PWD/build/install-check.log"         # debootstrap's and apt's own output
mkdir -p build
: >"$log"

# --- Mirrors: the ones the host's apt sources name, so this works where the host gets its
# packages. Both the one-line (*.list) and the deb822 (*.sources) formats are read.
source_uri() {
  local suite=$1 files=()
  shopt -s nullglob
  files=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list)
  local found=""
  [ ${#files[@]} -eq 0 ] || found=$(awk -v suite="$suite" '
    /^[[:space:]]*deb[[:space:]]/ {
      line = $0
      sub(/^[[:space:]]*deb[[:space:]]+/, "", line)
      sub(/^\[[^]]*\][[:space:]]*/, "", line)   # options such as [signed-by=...]
      split(line, field, /[[:space:]]+/)
      if (field[2] == suite && field[1] ~ /^https?:\/\//) { print field[1]; exit }
    }' "${files[@]}" 2>/dev/null || true)
  if [ -z "$found" ]; then
    files=(/etc/apt/sources.list.d/*.sources)
    [ ${#files[@]} -eq 0 ] || found=$(awk -v suite="$suite" '
      function check() {
        if (!done && types ~ /(^| )deb( |$)/ && enabled !~ /^no/ && (" " suites " ") ~ (" " suite " ")) {
          n = split(uris, uri, " ")
          for (i = 1; i <= n; i++) if (uri[i] ~ /^https?:\/\//) { print uri[i]; done = 1; exit }
        }
        types = ""; uris = ""; suites = ""; enabled = ""
      }
      /^#/ { next }
      /^[[:space:]]*$/ { check(); next }
      /^[A-Za-z-]+:/ {
        key = tolower($0); sub(/:.*/, "", key)
        value = $0; sub(/^[^:]*:[[:space:]]*/, "", value)
        if (key == "types") types = value
        else if (key == "uris") uris = value
        else if (key == "suites") suites = value
        else if (key == "enabled") enabled = tolower(value)
        else key = ""
        next
      }
      /^[[:space:]]/ {   # a continuation line adds to the field above it
        value = $0; sub(/^[[:space:]]+/, "", value)
        if (key == "uris") uris = uris " " value
        else if (key == "suites") suites = suites " " value
      }
      END { check() }' "${files[@]}" 2>/dev/null || true)
  fi
  shopt -u nullglob
  echo "${found%/}"
}
mirror=$(source_uri bookworm)
mirror=${mirror:-http://deb.debian.org/debian}
updates_mirror=$(source_uri bookworm-updates)
security_mirror=$(source_uri bookworm-security)

# --- Mounts. Whatever happens, they are undone on exit, and the root is never removed while
# anything is mounted under it: rm would go through a bind mount into the host's /dev.
mounts=(proc sys dev dev/pts)
started_pids=()

mounted_under_root() {
  findmnt -rn -o TARGET | awk -v root="$root" 'index($0, root "/") == 1 || $0 == root'
}

unmount_all() {
  local index target
  for ((index = ${#mounts[@]} - 1; index >= 0; index--)); do
    target="$root/${mounts[index]}"
    if mountpoint -q "$target" 2>/dev/null; then
      umount "$target" 2>/dev/null || umount --lazy "$target"
    fi
  done
}

cleanup() {
  # Only the processes this script started inside the root and has not waited for; they
  # would hold the mounts. TERM first: timeout passes it on to the brisk-peer it runs.
  if [ ${#started_pids[@]} -gt 0 ]; then
    kill -TERM "${started_pids[@]}" 2>/dev/null || true
    sleep 1
    kill -KILL "${started_pids[@]}" 2>/dev/null || true
  fi
  unmount_all
  local left
  left=$(mounted_under_root)
  [ -z "$left" ] || echo "WARNING: still mounted under $root: $left" >&2
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

remove_root() {
  unmount_all
  [ -z "$(mounted_under_root)" ] || fail "something is still mounted under $root; not removing it"
  # --one-file-system: even so, never descend into another file system.
  rm -rf --one-file-system "$root"
}

mount_all() {
  local target
  for target in "${mounts[@]}"; do
    mkdir -p "$root/$target"
    mountpoint -q "$root/$target" && continue
    mount --bind "/$target" "$root/$target"
    # Unmounting it again must not reach the host's own mount through shared propagation.
    mount --make-private "$root/$target"
  done
}

# Runs a command inside the root with a clean environment (extra VAR=value words first).
# Started in the background as "${in_root[@]}" COMMAND &, so that $! is the program's own
# process (chroot and env exec it) rather than a subshell's.
in_root=(chroot "$root" /usr/bin/env -i
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
  LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive)
in_root() {
  "${in_root[@]}" "$@"
}

installed_packages() {
  # shellcheck disable=SC2016  # ${Package} is dpkg-query's field, not the shell's
  in_root dpkg-query -W -f '${Package}\n' | sort
}

show_log_tail() {
  echo "---- last lines of $log" >&2
  tail -n 30 "$log" >&2
}

if [ -n "$package" ]; then
  echo "== Package: $package_name ($(du -h "$package" | cut -f1))"
  echo "   Depends: $(dpkg-deb --field "$package" Depends)"
  echo "   Recommends: $(dpkg-deb --field "$package" Recommends)"
fi

# --- 1. A fresh Debian 12 root
step=$SECONDS
made_earlier=0
if [ "$make_root_only" = 0 ] && [ "${BRISK_KEEP_ROOT:-}" = 1 ] && [ -f "$made_marker" ]; then
  echo "== Reusing the Debian 12 root in $root (BRISK_KEEP_ROOT=1)"
  reused=1
elif [ "$make_root_only" = 0 ] && [ -f "$made_marker" ] && [ -f "$fresh_marker" ]; then
  echo "== The fresh Debian 12 root that --make-root made in $root"
  reused=0
  made_earlier=1
else
  reused=0
  [ ! -e "$root" ] || remove_root
  echo "== debootstrap --variant=minbase bookworm $root $mirror"
  if ! debootstrap --variant=minbase bookworm "$root" "$mirror" >>"$log" 2>&1; then
    show_log_tail
    fail "debootstrap could not make the root"
  fi
  touch "$made_marker"
fi
debootstrap_seconds=$((SECONDS - step))
echo "   took ${debootstrap_seconds} s, $(du -sh --one-file-system "$root" | cut -f1)"
if [ "$make_root_only" = 1 ]; then
  touch "$fresh_marker"
  echo "== A fresh Debian 12 root is ready in $root"
  exit 0
fi
rm -f "$fresh_marker"   # from here on, things are installed in it

# The sources a newly installed Debian 12 has: the release, its updates and its security
# fixes (the latter two where the host reaches them).
{
  echo "deb $mirror bookworm main"
  [ -z "$updates_mirror" ] || echo "deb $updates_mirror bookworm-updates main"
  [ -z "$security_mirror" ] || echo "deb $security_mirror bookworm-security main"
} >"$root/etc/apt/sources.list"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
# Services that packages install are not started in the root: it shares the host's network,
# and a second avahi-daemon there would announce on the host's behalf.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"

mount_all

# --- 2. apt install ./brisk_*.deb, which has to fetch Qt 6 and the font by itself
step=$SECONDS
if [ "$reused" = 1 ]; then
  # Back to a fresh state as far as the package is concerned: without it and what it pulled.
  in_root apt-get purge -y brisk >>"$log" 2>&1 || true
  in_root apt-get autoremove --purge -y >>"$log" 2>&1 || true
fi
before=$(installed_packages)
for needed in libqt6widgets6 libqt6svg6 fonts-wqy-microhei; do
  ! grep -qx "$needed" <<<"$before" || fail "$needed is in the root before the package is installed"
done
rm -f "$root"/tmp/brisk_*.deb
install -m 644 "$package" "$root/tmp/$package_name"
echo "== apt-get update && apt-get install -y ./$package_name (inside the root)"
if ! in_root apt-get update >>"$log" 2>&1; then
  show_log_tail
  fail "apt-get update failed inside the root"
fi
if ! in_root sh -c "cd /tmp && apt-get install -y ./$package_name" >>"$log" 2>&1; then
  show_log_tail
  fail "apt-get install ./$package_name failed inside the root"
fi
apt_seconds=$((SECONDS - step))
after=$(installed_packages)
pulled=$(comm -13 <(echo "$before") <(echo "$after"))
echo "   took ${apt_seconds} s; $(wc -l <<<"$pulled") packages installed"
for needed in brisk libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libavahi-client3 \
  fonts-wqy-microhei; do
  grep -qx "$needed" <<<"$pulled" || fail "$needed was not installed along with the package"
done
echo "   among them: brisk, Qt 6 (core, gui, widgets, svg), libavahi-client3, fonts-wqy-microhei"
for recommended in qt6-translations-l10n qt6-wayland avahi-daemon; do
  if grep -qx "$recommended" <<<"$pulled"; then
    echo "   recommended and installed: $recommended"
  fi
done

# --- 3. The files are where a desktop and man look for them
echo "== Installed files"
for file in /usr/bin/brisk /usr/bin/brisk-peer; do
  [ -x "$root$file" ] || fail "$file is missing or not executable"
done
for file in share/applications/org.brisk.Brisk.desktop \
  share/icons/hicolor/scalable/apps/org.brisk.Brisk.svg \
  share/metainfo/org.brisk.Brisk.metainfo.xml \
  share/man/man1/brisk.1.gz share/man/man1/brisk-peer.1.gz \
  lib/systemd/user/brisk-inbox.service; do
  [ -s "$root/usr/$file" ] || fail "/usr/$file is missing or empty"
done
for page in brisk brisk-peer; do
  gzip -t "$root/usr/share/man/man1/$page.1.gz" || fail "$page.1.gz is not a sound gzip file"
  # Read whole: with pipefail, zcat cut off by head would count as a failure.
  first_line=$(zcat "$root/usr/share/man/man1/$page.1.gz")
  head -n 1 <<<"$first_line" | grep -q '^\.TH ' ||
    fail "$page.1.gz does not start with a .TH line"
done
grep -qx 'Exec=brisk.*' "$root/usr/share/applications/org.brisk.Brisk.desktop" ||
  fail "the desktop entry does not start brisk"
grep -qx 'Icon=org.brisk.Brisk' "$root/usr/share/applications/org.brisk.Brisk.desktop" ||
  fail "the desktop entry does not name the installed icon"
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/org.brisk.Brisk.svg" ||
  fail "the icon is not an SVG image"
echo "   /usr/bin/brisk, /usr/bin/brisk-peer, desktop entry (Exec, Icon), SVG icon, metainfo,"
echo "   brisk.1.gz and brisk-peer.1.gz (sound gzip, .TH), brisk-inbox.service"

# Every library the programs and the Qt plugins they load need is there.
echo "== Libraries"
qt_plugins=$(find "$root/usr/lib" -mindepth 3 -maxdepth 3 -path '*/qt6/plugins' -print -quit)
[ -n "$qt_plugins" ] || fail "Qt 6's plugin folder is missing"
qt_plugins=${qt_plugins#"$root"}
for file in /usr/bin/brisk /usr/bin/brisk-peer "$qt_plugins/platforms/libqoffscreen.so" \
  "$qt_plugins/platforms/libqxcb.so" "$qt_plugins/imageformats/libqsvg.so" \
  "$qt_plugins/iconengines/libqsvgicon.so"; do
  [ -e "$root$file" ] || fail "$file is missing"
  missing=$(in_root ldd "$file" | grep 'not found' || true)
  [ -z "$missing" ] || fail "$file needs libraries that are not installed: $missing"
done
echo "   brisk, brisk-peer and the Qt plugins offscreen, xcb, svg (image, icon): none missing"
font=$(in_root fc-match -f '%{family}' ':lang=zh-cn')
grep -qi 'WenQuanYi\|Noto Sans CJK' <<<"$font" || fail "no font for Chinese text: fc-match gives $font"
echo "   font for Chinese text: $font"

# --- 4. brisk-peer: the usage text and a folder sent over loopback
echo "== brisk-peer"
help=$(in_root brisk-peer --help) || fail "brisk-peer --help failed"
head -n 1 <<<"$help" | grep -q '^Usage: brisk-peer' ||
  fail "brisk-peer --help does not start with \"Usage: brisk-peer\": $(head -n 1 <<<"$help")"
echo "   --help: $(head -n 1 <<<"$help")"

rm -rf "$host_work"
mkdir -p "$host_work/send/样本/子目录" "$host_work/received" "$host_work/home"
printf '你好，世界\nhello\n' >"$host_work/send/样本/报告.txt"
head -c 1048576 /dev/urandom >"$host_work/send/样本/data.bin"
printf 'inside a folder\n' >"$host_work/send/样本/子目录/说明 文件.txt"
: >"$host_work/send/样本/空.txt"

# A listening socket on one of the ports (from /proc/net/tcp{,6}, in hexadecimal).
port_in_use() {
  local port
  for port in "$@"; do
    awk -v port="$(printf ':%04X' "$port")" 'NR > 1 && substr($2, length($2) - 4) == port {
      found = 1 } END { exit !found }' /proc/net/tcp /proc/net/tcp6 && return 0
  done
  return 1
}
listening_on() {
  awk -v port="$(printf ':%04X' "$1")" 'NR > 1 && $4 == "0A" &&
    substr($2, length($2) - 4) == port { found = 1 } END { exit !found }' /proc/net/tcp /proc/net/tcp6
}

# A random high port whose following ports (the data connections) are free too; another
# program may still take it first, so listening is tried a few times.
transfer_ok=0
for _ in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 40000))
  port_in_use "$port" $((port + 1)) $((port + 2)) $((port + 3)) && continue
  "${in_root[@]}" timeout 60 brisk-peer listen --plain --port "$port" --no-announce --once \
    --save-to "$work/received" </dev/null >"$host_work/listener.out" 2>&1 &
  listener=$!
  started_pids+=("$listener")
  for _ in $(seq 100); do
    listening_on "$port" && break
    kill -0 "$listener" 2>/dev/null || break
    sleep 0.1
  done
  if ! listening_on "$port"; then
    listener_status=0
    wait "$listener" || listener_status=$?
    [ "$listener_status" -eq 3 ] && continue  # the port was taken meanwhile
    cat "$host_work/listener.out" >&2
    fail "brisk-peer listen did not listen on port $port (exit status $listener_status)"
  fi
  connector_status=0
  in_root timeout 60 brisk-peer connect 127.0.0.1 --plain --port "$port" --once \
    --send "$work/send/样本" </dev/null >"$host_work/connector.out" 2>&1 || connector_status=$?
  listener_status=0
  wait "$listener" || listener_status=$?
  if [ "$connector_status" -ne 0 ] || [ "$listener_status" -ne 0 ]; then
    echo "---- listener:" >&2
    cat "$host_work/listener.out" >&2
    echo "---- connector:" >&2
    cat "$host_work/connector.out" >&2
    fail "the transfer failed: connector exit status $connector_status, listener $listener_status"
  fi
  transfer_ok=1
  break
done
started_pids=()
[ "$transfer_ok" = 1 ] || fail "found no free port to listen on"
in_root diff -r "$work/send/样本" "$work/received/样本" ||
  fail "the received folder differs from the one sent"
echo "   listen --once --save-to and connect --send --once on 127.0.0.1 port $port: both exit 0"
echo "   received 样本/ (报告.txt, data.bin 1 MiB, 空.txt, 子目录/说明 文件.txt): identical (diff -r)"

# --- 5. The window program, without a display
echo "== brisk (QT_QPA_PLATFORM=offscreen)"
home="$work/home"
settings="$host_work/home/.config/Software/socket.ini"
mkdir -m 700 "$host_work/runtime"
"${in_root[@]}" HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$work/runtime" \
  QT_QPA_PLATFORM=offscreen brisk >"$host_work/brisk.out" 2>&1 &
window=$!
started_pids+=("$window")
# Up once it has loaded the platform plugin (QApplication made) and then had time to show
# its window and enter its event loop.
up=0
for _ in $(seq 150); do
  kill -0 "$window" 2>/dev/null || break
  if grep -q libqoffscreen "/proc/$window/maps" 2>/dev/null; then
    up=1
    break
  fi
  sleep 0.1
done
if [ "$up" = 1 ]; then
  sleep 2
  kill -0 "$window" 2>/dev/null || up=0
fi
if [ "$up" = 0 ]; then
  window_status=0
  wait "$window" || window_status=$?
  cat "$host_work/brisk.out" >&2
  fail "brisk did not start (exit status $window_status)"
fi
kill -TERM "$window"
window_status=0
for _ in $(seq 100); do
  kill -0 "$window" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$window" 2>/dev/null; then
  cat "$host_work/brisk.out" >&2
  fail "brisk was still running 10 s after SIGTERM"
fi
wait "$window" || window_status=$?
started_pids=()
[ "$window_status" -eq 0 ] || {
  cat "$host_work/brisk.out" >&2
  fail "brisk ended with exit status $window_status after SIGTERM"
}
[ -s "$settings" ] || {
  cat "$host_work/brisk.out" >&2
  fail "brisk did not write its settings to ${settings#"$root"}"
}
echo "   started, ended by SIGTERM with exit status 0, wrote ${settings#"$root"}:"
sed 's/^/     /' "$settings"
if [ -s "$host_work/brisk.out" ]; then
  echo "   its output:"
  sed 's/^/     /' "$host_work/brisk.out"
fi

unmount_all
size() { du -sh --one-file-system "$@" | cut -f1; }
echo "== Root: $(size "$root") in $root (kept; the next run remakes it), of which apt's"
echo "   downloaded packages $(size "$root/var/cache/apt/archives") and package lists $(size "$root/var/lib/apt/lists")"
if [ "$made_earlier" = 1 ]; then
  echo "   debootstrap earlier (--make-root), apt update and install ${apt_seconds} s"
else
  echo "   debootstrap ${debootstrap_seconds} s, apt update and install ${apt_seconds} s"
fi
echo "== $package_name installs and runs on a fresh Debian 12 ($((SECONDS - started)) s)"
