#!/usr/bin/env bash
# One-file --convert of a small PNG, the whole process from start to exit (its worker included),
# side by side with the same conversion by vips run directly.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
brivlon="${BRIVLON:-$root/build/brivlon}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
vips black "$work/small.png" 64 64 --bands 3
hyperfine --warmup 3 --runs 30 \
  --prepare "rm -rf '$work/out' && mkdir '$work/out' && cp '$work/small.png' '$work/out/'" \
  -n "brivlon --convert JPG small.png" "'$brivlon' --convert JPG '$work/out/small.png'" \
  -n "vips copy small.png small.jpg" "vips copy '$work/out/small.png' '$work/out/small.jpg'"
