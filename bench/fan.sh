#!/usr/bin/env bash
# Card fan speed: milliseconds and frames per second of one whole fan frame on one core.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$root/build" --target fan_bench >&2
taskset -c 0 "$root/build/bench/fan_bench"
