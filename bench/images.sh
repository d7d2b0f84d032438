#!/usr/bin/env bash
# Image conversion speed: brivlon --convert against vips and ImageMagick doing the same work on
# a 24-megapixel JPEG and a 24-megapixel PNG. Every run writes into a fresh folder (brivlon
# never overwrites, so a second run in the same place would measure another name).
# Usage: bench/images.sh [hyperfine options…]   (default --runs 3; e.g. --runs 10 --export-markdown out.md)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
brivlon="$root/build/bin/brivlon"
[ -x "$brivlon" ] || "$root/scripts/build"
[ -n "${BRIVLON_PRIVATE_HOME:-}" ] || exec "$root/tests/support/private-home" bash "$0" "$@"

for tool in hyperfine vips; do
  command -v "$tool" >/dev/null || { echo "images.sh: $tool is missing" >&2; exit 1; }
done
magick=$(command -v magick || command -v convert || true)

work=$(mktemp -d "${TMPDIR:-/tmp}/brivlon-bench-images-XXXXXX")
trap 'rm -rf "$work"' EXIT

. "$root/bench/lib/photo.sh"
make_photo "$work"
ls -l "$work/x.jpg" "$work/x.png"

# A fresh run folder holding a hard link to the source (no copying), outputs land beside it.
run="$work/run"
fresh() { printf 'rm -rf %q && mkdir -p %q && ln %q %q' "$run" "$run" "$work/$1" "$run/$1"; }

# The qualities brivlon uses when nothing is saved: high (90) for HEIC, web (80) for WebP.
compare() {
  local title=$1 source=$2
  shift 2
  echo
  echo "== $title"
  hyperfine --warmup 1 --prepare "$(fresh "$source")" "${extra[@]}" "$@"
}
# Each HEIC encode takes seconds: three timed runs unless the caller asks otherwise.
extra=("$@")
[ $# -eq 0 ] && extra=(--runs 3)

magickRun() { [ -n "$magick" ] && printf '%q %s' "$magick" "$1"; }

compare "JPEG to PNG" x.jpg \
  -n brivlon "$brivlon --convert PNG $run/x.jpg" \
  -n vips "vips copy $run/x.jpg $run/out.png" \
  -n "vips, brivlon's level and filters" "vips copy $run/x.jpg $run/out.png[compression=4,filter=160]" \
  ${magick:+-n imagemagick "$(magickRun "$run/x.jpg $run/out.png")"}

compare "JPEG to WebP" x.jpg \
  -n brivlon "$brivlon --convert WEBP $run/x.jpg" \
  -n vips "vips copy $run/x.jpg $run/out.webp[Q=80]" \
  ${magick:+-n imagemagick "$(magickRun "$run/x.jpg -quality 80 $run/out.webp")"}

compare "PNG to HEIC" x.png \
  -n brivlon "$brivlon --convert HEIC $run/x.png" \
  -n vips "vips copy $run/x.png $run/out.heic[Q=90]" \
  ${magick:+-n imagemagick "$(magickRun "$run/x.png -quality 90 $run/out.heic")"}
