#!/usr/bin/env bash
# The window tests (ctest label x11) run RUNS times in a row (10 unless set), JOBS at a time (3
# unless set), each run once with no retry, under the load the machine has; STRESS=N adds
# `stress-ng --cpu N` for the whole series (STRESS=8 is the load the tests must bear).
# Prints per run the failures, the load average at its end and its wall time, then per test the
# median and the slowest of its times over the runs; a failing run's output goes to
# build/x11-runs/run-N.txt. Needs a build in build/.
#
# Measured on 8 cores beside other engineers' builds, the load average taken at each run's end.
# At -j3 beside `stress-ng --cpu 4` (load 6-18): 7 of 10 runs with every test passing; the failures:
# WholeRoad.WheelX11 (Shift opened nothing: the Qt drag source had moved on before the file list was
# asked for, and refused it), BurstPanelX11 (its 2.4 s, timed on the wall, took 2.7 s) and one
# "with-x: openbox did not start". Once the list is asked again with the times of the input since
# the claim and the burst panel goes on its own clock: 10 of 10 beside `stress-ng --cpu 4`, a
# second `--cpu 4` from the second run on (load 6-18), then 10 of 10 beside `stress-ng --cpu 8`
# (load 10-16). At -j8 beside `stress-ng --cpu 4` and heavy builds (load 11-30): 8 of 10, one
# SettingsX11 (Escape did not close the PDF pages panel) and one TrimX11 (the play test's playhead
# stood still for 20 s). Then STRESS=8 at -j3 (load 11-16): 8 of 10, twice WholeRoad.X11 (the drop
# on the fan's JPG card after the source let go never asked for a quality).
# With the road test letting go only once the Qt source reports that the menu took the drag where
# the pointer is: the four WholeRoad tests 10 of 10 at -j4 beside `stress-ng --cpu 8`; the whole
# series at -j3 with STRESS=8 (load 10-13): 9 of 10, once WholeRoad.X11 (the source's drag ended,
# and no quality was asked). That wait read a stale "aceito" (the main window's), and the lost
# drop was the fan's: a Qt source hands its files only for the time of its latest position, the
# fan's read at its first position came back empty under load, it refused the enter, and Qt gave
# it no further moves. With the menus and the main window taking the enter while the files are
# unknown and reading them at later positions: STRESS=8 at -j3 beside other engineers' work (load
# 19-29): 10 of 10. Then also with the drag monitor asking a source still a step ahead again as
# input comes (Shift opened nothing a few times in 280 road runs at load 28-35) and the Qt
# source's roads letting go once the program says its menu took the drag: 10 of 10 (load 15-19).
# A whole run at -j3 takes 72-111 s under STRESS=8 beside that work; medians (slowest) at -j3
# under `stress-ng --cpu 8` in the last series: Scenarios.X11 8.9 s (9.8), TrimX11 20.5 s (22.6),
# MenuShapeX11 2.5 s (3.1), CardFanX11 7.4 s (8.5), DragMonitorX11 42.9 s (43.7), WholeRoad.X11
# 3.3 s (3.6), WholeRoad.GtkFanX11 7.4 s (9.9).
# Then a series at load 9-10 lost DragMonitorX11's long list in 2 of 6 runs (about 1 in 20 runs
# of that test alone, with no extra load): the previous source's late refusal was taken for the
# new source's answer. With each claim asked from a window of its own, with-x waiting for openbox's
# event loop and the tests' workspace requests taken by the server before they hang up: 5 of 5
# (load 7-10), each run 64-66 s; medians (slowest): Scenarios.X11 6.5 s (6.6), TrimX11 14.2 s
# (15.2), CardFanX11 6.8 s (6.9), DragMonitorX11 41.0 s (41.1), WholeRoad.GtkFanX11 7.0 s (7.0).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs="${RUNS:-10}"
cd "$root/build"
mkdir -p x11-runs
times=$(mktemp)
stress=
trap 'rm -f "$times"; [ -z "$stress" ] || kill "$stress" 2>/dev/null || true' EXIT
if [ -n "${STRESS:-}" ]; then
  stress-ng --cpu "$STRESS" --quiet &
  stress=$!
fi
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
