#!/usr/bin/env bash
# The slow, complete checks, for a person to run before a release or after a change to the
# engine's threads or the transfer protocol (on a 2-core machine two to three hours, most
# of it the slower fuzzers; as root for the full disk and the Debian root, otherwise those
# parts are skipped):
#  - every test built and run without sanitizers, then under the address and
#    undefined-behaviour sanitizers, and the engine's and brisk-peer's tests under the
#    thread sanitizer;
#  - every fuzzer for a million executions (or an hour, whichever ends first);
#  - 20 kills with -9 per side (and as many of a folder) of a 256 MiB transfer, each resumed,
#    and a full disk, against the plain debug brisk-peer;
#  - 100 offers of 4 MiB at once and 1,000 in a row, one second apart as the program spaces
#    them, against the plain debug brisk-peer;
#  - the installation and the Debian package, installed into a fresh Debian 12 root, and
#    the package's brisk-peer reading 1 MiB of malformed control messages in under 2 s;
# .ci/run runs short forms of the same.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

timings=()
step() {
  local name=$1 start=$SECONDS
  shift
  echo "======== $name"
  "$@"
  timings+=("$(printf '%6d s  %s' $((SECONDS - start)) "$name")")
}
finish() {
  local status=$?
  echo "======== Steps"
  printf '%s\n' "${timings[@]}"
  printf '%6d s  all (exit status %d)\n' $((SECONDS - started)) "$status"
}
trap finish EXIT

step "format, build and every test" scripts/test.sh
step "every test, address and undefined-behaviour sanitizers" \
  env BRISK_SANITIZE=address,undefined scripts/test.sh
step "engine and brisk-peer tests, thread sanitizer" \
  env BRISK_SANITIZE=thread BRISK_TEST_LABEL='engine|cli' \
  BRISK_BUILD_TARGETS='brisk_engine_tests brisk_cli_tests' scripts/test.sh
step "fuzzers: a million executions each" tests/fuzz/run_fuzzers.sh --runs 1000000 --seconds 3600
step "kill -9 and resume, full disk" \
  tests/fault/kill_resume.sh build/debug/src/app/brisk-peer 20 256
step "load: 99 at once, 1,000 in a row" \
  tests/load/many_offers.sh build/debug/src/app/brisk-peer \
  build/debug/tests/load/brisk_offer_loop 4 1000
step "package: release build, installation, .deb" scripts/package-check.sh
step "install the .deb into a fresh Debian 12 root and run it" scripts/install-check.sh
step "a flood of malformed control messages" \
  tests/load/malformed_flood.sh build/package/src/app/brisk-peer 1 2
