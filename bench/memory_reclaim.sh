# Sourced by the benchmarks. Two things a virtual machine's kernel may do with memory make
# the same run take very different times, so hold_memory_reclaim holds them off (as root,
# where the kernel lets it) until restore_memory_reclaim, which the caller runs at exit:
#  - Free page reporting: memory that stayed free a while (min_free_ms) is given back to
#    the host, and a run that writes into it pays for the host giving it again: up to 5 s
#    per GiB instead of 0.3 s, falling on whichever contender comes first after a pause.
#    Reporting is made to wait a minute.
#  - DAMON's page-out: pages nobody touched for a while (a minute on the machines Brisk is
#    built on) are written out and dropped, so that the source file of the large copies is
#    read from the disk in some runs and from memory in others. The monitors are stopped.
reporting=/sys/module/page_reporting/parameters/min_free_ms
reporting_before=""
stopped_monitors=()
hold_memory_reclaim() {
  if [ -w "$reporting" ]; then
    reporting_before=$(cat "$reporting")
    echo 60000 >"$reporting"
    echo "free page reporting waits for memory free for a minute during the runs" >&2
  fi
  local state
  for state in /sys/kernel/mm/damon/admin/kdamonds/*/state; do
    [ -w "$state" ] && [ "$(cat "$state")" = on ] || continue
    echo off >"$state" && stopped_monitors+=("$state")
  done
  [ ${#stopped_monitors[@]} -eq 0 ] || echo "DAMON's page-out is stopped during the runs" >&2
}
restore_memory_reclaim() {
  [ -z "$reporting_before" ] || echo "$reporting_before" >"$reporting"
  local state
  for state in "${stopped_monitors[@]}"; do echo on >"$state" || true; done
}
