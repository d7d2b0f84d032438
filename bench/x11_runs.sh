#!/usr/bin/env bash
# The window tests (ctest label x11) run RUNS times in a row (10 unless set), each run once with
# no retry, under the load the machine has (`stress-ng --cpu 8` beside it gives a comparable one).
# Prints per run the failures, the load average at its end and its wall time, then per test the
# median and the slowest of its times over the runs; a failing run's output goes to
# build/x11-runs/run-N.txt. Needs a build in build/.
#
# Measured on 8 cores at -j3 beside `stress-ng --cpu 8` and other builds (load average 14-34),
# after the scripted modes stopped waiting on delays: 9 of 10 runs in a row with every test
# passing (before the drag source's round trip, 11 of 13, CardFanX11 losing a drag twice). The
# one failure, WholeRoad.X11 (Shift opened no fan), most likely met the program's own 200 ms
# bound for a drag source to hand over its file list (platform/x11_drag_input.cpp), which a
# loaded source can miss. With that bound at 1.5 s and a trigger waiting for a list still being
# read, at -j4 beside `stress-ng --cpu 4` and two builds (load 9-11): again 9 of 10, the one failure
# DragMonitorX11.RealDrags in its 7th round (a Qt source's list never came). A whole run takes
# 55-68 s; medians (slowest): Scenarios.X11 7.2 s (12.0), TrimX11 20.7 s (27.9),
# MenuShapeX11 2.6 s (3.4), CardFanX11 7.8 s (12.3), DragMonitorX11 42.8 s (51.1).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs="${RUNS:-10}"
cd "$root/build"
mkdir -p x11-runs
times=$(mktemp)
trap 'rm -f "$times"' EXIT
failed_runs=0
for run in $(seq 1 "$runs"); do
  started=$SECONDS
  status=0
  out=$(ctest -L x11 -j "${JOBS:-3}" --output-on-failure 2>&1) || status=$?
  [ "$status" -eq 0 ] || printf '%s\n' "$out" >"x11-runs/run-$run.txt"
  # "  1/13 Test  #5: Scenarios.X11 .........   Passed   41.20 sec"
  awk '/Test +#[0-9]+:/ { for (i = 1; i <= NF; i++) if ($i == "sec") print $4, $(i - 1) }' <<<"$out" >>"$times"
  failures=$(awk '/Test +#[0-9]+:/ && !/Passed/ { print $4 }' <<<"$out" | paste -sd' ' -)
  [ "$status" -eq 0 ] || failed_runs=$((failed_runs + 1))
  printf 'run %2d: %s  load %s  %d s\n' "$run" "${failures:-all passed}" \
    "$(cut -d' ' -f1 /proc/loadavg)" $((SECONDS - started))
done
echo "test: median, slowest (seconds)"
sort -k1,1 -k2,2n "$times" | awk '
  { name = $1; t[name, ++n[name]] = $2 }
  END { for (name in n) printf "  %-45s %7.1f %7.1f\n", name, t[name, int((n[name] + 1) / 2)], t[name, n[name]] }' | sort
echo "runs with a failure: $failed_runs of $runs"
[ "$failed_runs" -eq 0 ]
