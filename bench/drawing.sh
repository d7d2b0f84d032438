#!/usr/bin/env bash
# Painting speed: frames per second of 18 shadowed card bodies on one core.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$root/build" --target paint_bench >&2
taskset -c 0 "$root/build/bench/paint_bench"
