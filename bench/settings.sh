#!/usr/bin/env bash
# Microseconds per settings read, with a private configuration folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build"
cmake --build "$root/build" --target settings_bench >&2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
XDG_CONFIG_HOME="$home" QT_QPA_PLATFORM=offscreen "$root/build/bench/settings_bench"
