#!/usr/bin/env bash
# Builds Brisk as it is shipped, installs it into a staging folder, validates what a desktop
# reads (menu entry, icon, software-centre description, manual pages), then builds the
# Debian package and checks its dependencies and contents, and that lintian finds in it
# neither an error nor a warning, nor a program built without hardening.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build="build/package"
stage="$build/stage"
echo "== Build in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRISK_BUILD_TESTS=OFF \
  -DBRISK_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" --target brisk brisk-peer brisk_manual_pages brisk_changelog

echo "== Install into $stage"
rm -rf "$stage"
DESTDIR="$PWD/$stage" cmake --install "$build" >/dev/null
usr="$stage/usr"
expected=(
  bin/brisk
  bin/brisk-peer
  share/applications/org.brisk.Brisk.desktop
  share/kio/servicemenus/brisk-send.desktop
  share/nemo/actions/brisk-send.nemo_action
  share/icons/hicolor/scalable/apps/org.brisk.Brisk.svg
  share/metainfo/org.brisk.Brisk.metainfo.xml
  share/man/man1/brisk.1.gz
  share/man/man1/brisk-peer.1.gz
  lib/systemd/user/brisk-inbox.service
  share/doc/brisk/copyright
  share/doc/brisk/changelog.gz
)
for file in "${expected[@]}"; do
  [ -f "$usr/$file" ] || { echo "missing from the installation: /usr/$file"; exit 1; }
done

echo "== Validate"
desktop-file-validate "$usr/share/applications/org.brisk.Brisk.desktop"
# The service menu and the Nemo action are the file managers' own formats, which
# desktop-file-validate does not know: each must at least run the hand-over.
for menu in kio/servicemenus/brisk-send.desktop nemo/actions/brisk-send.nemo_action; do
  grep -q '^Exec=brisk --send %F$' "$usr/share/$menu" ||
    { echo "$menu does not run brisk --send %F"; exit 1; }
done
appstreamcli validate --no-net --explain "$usr/share/metainfo/org.brisk.Brisk.metainfo.xml"
# Outputs are read whole before they are searched: `grep -q` leaves at the first match,
# and with pipefail a writer that still had something to say would fail the check.
icon_type=$(file --brief "$usr/share/icons/hicolor/scalable/apps/org.brisk.Brisk.svg")
grep -q 'SVG' <<<"$icon_type" ||
  { echo "the icon is not an SVG image"; exit 1; }
for page in brisk brisk-peer; do
  # man prints its warnings about the page's markup on standard error.
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "$page.1: $warnings"; exit 1; }
done
help=$("$usr/bin/brisk-peer" --help)
grep -q '^Usage: brisk-peer' <<<"$help" || { echo "brisk-peer --help shows no usage"; exit 1; }

echo "== Inbox service"
# systemd checks that the unit's program exists: a copy of the unit names the staged one.
unit="$usr/lib/systemd/user/brisk-inbox.service"
grep -q '^ExecStart=/usr/bin/brisk-peer listen --keep ' "$unit" ||
  { echo "brisk-inbox.service does not start /usr/bin/brisk-peer listen --keep"; exit 1; }
unit_check="$build/unit-check"
rm -rf "$unit_check"
mkdir -p -m 700 "$unit_check/runtime"
sed "s|/usr/bin/brisk-peer|$PWD/$usr/bin/brisk-peer|" "$unit" >"$unit_check/brisk-inbox.service"
# A sound unit verifies with nothing to say; unknown keys are only warned about.
warnings=$(XDG_RUNTIME_DIR="$PWD/$unit_check/runtime" \
  systemd-analyze --user --man=no verify "$unit_check/brisk-inbox.service" 2>&1) ||
  { echo "brisk-inbox.service: $warnings"; exit 1; }
[ -z "$warnings" ] || { echo "brisk-inbox.service: $warnings"; exit 1; }

echo "== Debian package"
rm -f "$build"/brisk_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
package=$(ls "$build"/brisk_*.deb)
dpkg-deb --info "$package"
contents=$(dpkg-deb --contents "$package")
echo "$contents"
depends=$(dpkg-deb --field "$package" Depends)
# The Qt, Avahi and C++ libraries come from dpkg-shlibdeps, the font from the project.
for needed in libqt6widgets6 libqt6svg6 libavahi-client3 libstdc++6 libc6 fonts-wqy-microhei; do
  grep -q "$needed" <<<"$depends" || { echo "Depends lacks $needed: $depends"; exit 1; }
done
# The daemon that finds computers on the network is recommended, not required: without it
# Brisk works with typed addresses.
recommends=$(dpkg-deb --field "$package" Recommends)
grep -q "avahi-daemon" <<<"$recommends" || { echo "Recommends lacks avahi-daemon: $recommends"; exit 1; }
for file in "${expected[@]}"; do
  grep -q " \./usr/$file\$" <<<"$contents" ||
    { echo "missing from the package: /usr/$file"; exit 1; }
done

echo "== lintian"
version=$(dpkg-deb --field "$package" Version)
changelog_version=$(dpkg-parsechangelog -l debian/changelog -S Version)
[ "$version" = "$changelog_version" ] ||
  { echo "the package is version $version, debian/changelog's latest entry $changelog_version"; exit 1; }
# Errors and warnings fail the check. The hardening tags are only informational, so they
# are asked for (-I) and looked for by name: every program is built with a stack protector,
# as a position-independent executable, with relro and immediate binding. Whether a
# program links a checked function depends on its buffers as much as on the build (a
# program whose every read has a size the compiler cannot know, or proves to fit, links
# none, and lintian then says hardening-no-fortify-functions), so fortification is shown
# by the compile commands instead: every one is optimised and fortified.
findings=$(lintian --display-info --fail-on error,warning "$package" 2>&1) ||
  { echo "$findings"; echo "lintian fails $package"; exit 1; }
[ -z "$findings" ] || echo "$findings"
unhardened=$(grep -E '^[EWI]: brisk: hardening-' <<<"$findings" |
  grep -v ' hardening-no-fortify-functions ' || true)
[ -z "$unhardened" ] || { echo "a program is built without hardening: $unhardened"; exit 1; }
unfortified=$(python3 -c '
import json, sys
for entry in json.load(open(sys.argv[1])):
    command = entry.get("command", " ".join(entry.get("arguments", [])))
    if "-D_FORTIFY_SOURCE=2" not in command or "-O2" not in command and "-O3" not in command:
        print(entry["file"])' "$build/compile_commands.json")
[ -z "$unfortified" ] || { echo "compiled without -O2 -D_FORTIFY_SOURCE=2: $unfortified"; exit 1; }
echo "== $package is sound"
