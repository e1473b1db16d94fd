#!/usr/bin/env bash
# Builds the fuzzers (clang, in build/fuzz) and runs each one, either for a fixed time or
# for a fixed number of executions. Each first runs every input kept in fuzz/corpus/ and
# every one that earlier runs found (build/fuzz/corpus/), then fuzzes from them. Prints per
# fuzzer the executions, the coverage (edges and features), the corpus and the time; exits
# non-zero when a fuzzer found a crash (its input is kept in build/fuzz/artifacts/).
#   tests/fuzz/run_fuzzers.sh [--seconds N] [--runs N] [--build-only] [FUZZER...]
# CI runs it with --seconds 5; scripts/full-check.sh with --runs 1000000 (with both,
# whichever ends first).
set -euo pipefail
cd "$(dirname "$0")/../.."

limit=()
build_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) limit+=(-max_total_time="$2"); shift 2 ;;
    --runs) limit+=(-runs="$2"); shift 2 ;;
    --build-only) build_only=1; shift ;;
    *) break ;;
  esac
done
[ ${#limit[@]} -gt 0 ] || limit=(-max_total_time=20)
build=build/fuzz
mapfile -t all < <(sed -n 's/^  \([a-z_]*_fuzzer\)$/\1/p' fuzz/CMakeLists.txt)
fuzzers=("${@:-${all[@]}}")

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBRISK_FUZZ=ON -DBRISK_BUILD_TESTS=OFF -DBRISK_WERROR=ON >/dev/null
cmake --build "$build" --target "${fuzzers[@]}"
[ "$build_only" = 0 ] || exit 0

mkdir -p "$build/artifacts"
failed=0
for fuzzer in "${fuzzers[@]}"; do
  # New inputs go to a scratch corpus; the kept seeds stay as they are.
  corpus="$build/corpus/$fuzzer"
  mkdir -p "$corpus"
  log="$build/$fuzzer.log"
  start=$SECONDS
  status=0
  "$build/fuzz/$fuzzer" "${limit[@]}" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$fuzzer-" "$corpus" "fuzz/corpus/$fuzzer" \
    >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  units=$(sed -n 's/.* corp: \([0-9]*\/[0-9a-zA-Z]*\).*/\1/p' <<<"$last")
  printf '%-26s %9s executions  cov %5s  ft %6s  corpus %-10s %5d s' \
    "$fuzzer" "${runs:-?}" "${cov:-?}" "${ft:-?}" "${units:-?}" $((SECONDS - start))
  if [ "$status" -ne 0 ]; then
    printf '  FAILED (see %s)\n' "$log"
    grep -E 'ERROR|SUMMARY|artifact' "$log" | head -n 5
    failed=1
  else
    printf '\n'
  fi
done
exit "$failed"
