#!/usr/bin/env bash
# Huge offers against the window: a raw peer sends 99 offers of about 244 KiB each (1,000
# item lines of 240 characters) at once to a real `brisk` on an X server of its own, and
# reports how long a typed chat line takes to go out meanwhile and afterwards, when the
# last prompt appeared, the program's peak memory and how long SIGTERM takes to end it.
# The targets: every prompt shown, chat lines within 100 ms once they are, under 200 MiB,
# SIGTERM within 2 s; the exit status says whether they were met.
#   tests/load/huge_offers.sh BRISK [--offers N] [--items N] [--line-chars N]
#                             [--limit SECONDS] [--shot FILE.png]
# Needs xvfb-run, xdotool and python3 (ImageMagick's import for --shot).
set -euo pipefail
here="$(dirname "$0")"
brisk="$(realpath "$1")"
shift
for tool in xvfb-run xdotool python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 2; }
done
exec xvfb-run -a -s "-screen 0 1920x1080x24" python3 "$here/huge_offers.py" "$brisk" "$@"
