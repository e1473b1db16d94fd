# Sourced by the benchmarks. On a virtual machine whose kernel reports freed memory to the
# host (free page reporting), a run that writes into memory the host took back pays for the
# host giving it again: up to 5 s per GiB instead of 0.3 s, falling on whichever contender
# comes first after a pause. Where the kernel lets reporting wait for memory that stayed
# free a while (min_free_ms, as on the machines Brisk is built on) and this runs as root,
# hold_page_reporting keeps it waiting for a minute until restore_page_reporting (which the
# caller runs at exit).
reporting=/sys/module/page_reporting/parameters/min_free_ms
reporting_before=""
hold_page_reporting() {
  [ -w "$reporting" ] || return 0
  reporting_before=$(cat "$reporting")
  echo 60000 >"$reporting"
  echo "free page reporting waits for memory free for a minute during the runs" >&2
}
restore_page_reporting() {
  [ -z "$reporting_before" ] || echo "$reporting_before" >"$reporting"
}
