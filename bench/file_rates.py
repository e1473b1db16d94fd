#!/usr/bin/env python3
"""Helpers of bench/many_files.sh.

  file_rates.py rates EVENTS   from brisk-peer --json lines: the files that began, and the
                               files per second overall (to the verdict), in the first and
                               in the last tenth of them (start to start), and the last
                               tenth's rate over the first's
  file_rates.py tree DIR FILES PER_FOLDER BYTES   writes the tree to send
"""
import json
import os
import sys


def rates(events_path):
    starts = []
    end = None
    with open(events_path, encoding="utf-8") as events:
        for line in events:
            try:
                event = json.loads(line)
            except ValueError:
                continue
            if event.get("event") == "transfer":
                starts.append(event["ms"] / 1000)
            elif event.get("event") == "verdict":
                end = event["ms"] / 1000
    if len(starts) < 10 or end is None:
        sys.exit(f"{events_path}: {len(starts)} files began, verdict {'seen' if end else 'missing'}")
    n = len(starts)
    tenth = n // 10
    # The pace is the time from one file's start to the next's, over the first and the last
    # tenth of the files: the end of the transfer (the last confirmations, the verdict, a
    # fixed time) is not the pace of its files, and counts in the overall rate only.
    first = tenth / max(starts[tenth] - starts[0], 1e-3)
    last = (tenth - 1) / max(starts[n - 1] - starts[n - tenth], 1e-3)
    overall = n / max(end - starts[0], 1e-3)
    print(f"{n} {overall:.0f} {first:.0f} {last:.0f} {last / first:.2f}")


def tree(root, files, per_folder, size):
    for i in range(files):
        folder = os.path.join(root, f"d{i // per_folder:03d}")
        if i % per_folder == 0:
            os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"f{i:06d}.bin"), "wb") as f:
            f.write(os.urandom(size))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "rates":
        rates(sys.argv[2])
    elif len(sys.argv) == 6 and sys.argv[1] == "tree":
        tree(sys.argv[2], *(int(a) for a in sys.argv[3:6]))
    else:
        sys.exit(__doc__)
