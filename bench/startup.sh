#!/usr/bin/env bash
# One-file --convert of a small PNG, the whole process from start to exit (its worker included),
# side by side with the same conversion by vips run directly; the ratios of the medians and of the
# fastest runs at the end (other work on the machine puts long tails on both).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
brivlon="${BRIVLON:-$root/build/bin/brivlon}"
[ -n "${BRIVLON_PRIVATE_HOME:-}" ] || exec "$root/tests/support/private-home" bash "$0" "$@"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
vips black "$work/small.png" 64 64 --bands 3
hyperfine --warmup 3 --runs "${RUNS:-30}" --export-json "$work/times.json" \
  --prepare "rm -rf '$work/out' && mkdir '$work/out' && cp '$work/small.png' '$work/out/'" \
  -n "brivlon --convert JPG small.png" "'$brivlon' --convert JPG '$work/out/small.png'" \
  -n "vips copy small.png small.jpg" "vips copy '$work/out/small.png' '$work/out/small.jpg'"
python3 - "$work/times.json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
for measure in ("median", "min"):
    ours, theirs = (r[measure] for r in results)
    print(f"{measure}: brivlon {ours * 1000:.1f} ms, vips {theirs * 1000:.1f} ms, ratio {ours / theirs:.2f}")
PY
