#!/usr/bin/env bash
# The whole road of tests/shell/road_x11_test.cpp, RUNS times (5 unless set), each on its own
# private X server: how long after the trigger key the fan is on screen, and how long the tray
# program takes to leave on a termination signal once its job is done. The test holds them to
# loose bounds that a loaded machine keeps; these are the figures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$root/build" --target shell_x11_tests brivlon >&2
for _ in $(seq "${RUNS:-5}"); do
  "$root/tests/support/with-x" "$root/build/tests/shell_x11_tests" --gtest_filter='WholeRoad.*' 2>/dev/null || true
done | python3 -c '
import re, statistics, sys
text = sys.stdin.read()
for label, pattern in (("fan on screen after the trigger", r"fan on screen ([0-9.]+) ms"),
                       ("exit after the termination signal", r"left ([0-9.]+) ms after")):
    values = [float(v) for v in re.findall(pattern, text)]
    if values:
        print(f"{label}: median {statistics.median(values):.1f} ms, worst {max(values):.1f} ms of {len(values)}")
'
