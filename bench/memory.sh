#!/usr/bin/env bash
# Peak memory of brivlon --convert against vips doing the same work on a 24-megapixel photo, as
# the largest resident size of the process and its children (/usr/bin/time %M: for WebP that
# is ffmpeg's). Each figure is the median of the runs; the ratio is brivlon / vips. The PNG row
# also gives the time ratio: vips at brivlon's compression level (4) and row filters (up and
# Paeth, flag value 160), so that both do the same work.
# Then a 120-page text PDF against poppler's own tools: its pages at 300 dpi as PNG against
# pdftoppm writing uncompressed PPM (drawing only), and its text against pdftotext.
# Usage: bench/memory.sh [runs]   (default 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
brivlon="${BRIVLON:-$root/build/bin/brivlon}"
[ -x "$brivlon" ] || "$root/scripts/build"
[ -n "${BRIVLON_PRIVATE_HOME:-}" ] || exec "$root/tests/support/private-home" bash "$0" "$@"
runs=${1:-3}

for tool in vips python3 /usr/bin/time pdftoppm pdftotext; do
  command -v "$tool" >/dev/null || { echo "memory.sh: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/brivlon-bench-memory-XXXXXX")
trap 'rm -rf "$work"' EXIT
. "$root/bench/lib/photo.sh"
make_photo "$work"
vips black "$work/tiny.v" 16 16 --bands 3
vips copy "$work/tiny.v" "$work/tiny.jpg"

# measure SOURCE COMMAND…: runs COMMAND `runs` times in a fresh folder holding a hard link to
# SOURCE as run/SOURCE; prints the median peak in KiB and the median seconds.
run="$work/run"
measure() {
  local source=$1
  shift
  local samples=()
  for ((i = 0; i < runs; i++)); do
    rm -rf "$run" && mkdir -p "$run" && ln "$work/$source" "$run/$source"
    /usr/bin/time -o "$work/time" -f '%M %e' "$@" >/dev/null
    samples+=("$(cat "$work/time")")
  done
  printf '%s\n' "${samples[@]}" | python3 -c '
import statistics, sys
rows = [line.split() for line in sys.stdin]
print(statistics.median(int(r[0]) for r in rows), statistics.median(float(r[1]) for r in rows))'
}

# compare TITLE SOURCE BRIVLON-FORMAT VIPS-OUTPUT: one table row. The last column leaves out
# what each program holds for a 16-pixel image (mostly the pages of its libraries' code), so
# that it compares what the pixels cost.
base=(0 0)
compare() {
  local title=$1 source=$2 format=$3 out=$4
  read -r ours oursTime < <(measure "$source" "$brivlon" --convert "$format" "$run/$source")
  read -r peer peerTime < <(measure "$source" vips copy "$run/$source" "$run/$out")
  [ "${base[0]}" = 0 ] && base=("$ours" "$peer")
  python3 -c '
import sys
title = sys.argv[1]
ours, peer, ourBase, peerBase = (int(v) for v in sys.argv[2:6])
ourTime, peerTime = float(sys.argv[6]), float(sys.argv[7])
extra = format((ours - ourBase) / (peer - peerBase), ">11.2f") if peer > peerBase else format("", ">11")
print(f"{title:<20}{ours / 1024:>12.1f}{peer / 1024:>9.1f}{ours / peer:>7.2f}"
      f"{ourTime:>11.2f}{peerTime:>8.2f}{ourTime / peerTime:>7.2f}{extra}")
' "$title" "$ours" "$peer" "${base[0]}" "${base[1]}" "$oursTime" "$peerTime"
}

echo "medians of $runs runs; ratios are brivlon / vips; the machine's load moves the times"
printf '%-20s%12s%9s%7s%11s%8s%7s%11s\n' conversion "brivlon MiB" "vips MiB" ratio "brivlon s" "vips s" ratio "above base"
compare "16 px JPEG to PNG" tiny.jpg png "out.png[compression=4,filter=160]"
compare "JPEG to PNG" x.jpg png "out.png[compression=4,filter=160]"
# The qualities brivlon uses when nothing is saved: high (90), web (80) for WebP, which ffmpeg
# encodes for brivlon and vips' own saver for vips.
compare "JPEG to WebP" x.jpg webp "out.webp[Q=80]"
compare "PNG to JPEG" x.png jpg "out.jpg[Q=90]"
compare "JPEG to TIFF" x.jpg tiff out.tif
compare "PNG to HEIC" x.png heic "out.heic[Q=90,subsample_mode=on]"
# The encoders that hold the whole picture; brivlon refuses a picture whose estimate passes the
# free memory, so these figures set the estimate (bytes per pixel = MiB · 2^20 / 24e6).
compare "PNG to AVIF" x.png avif "out.avif[Q=90,compression=av1,effort=0,subsample_mode=on]"

# A text-heavy document: 120 Letter pages of 46 lines of Helvetica each, written directly, so
# that no office suite is needed.
python3 - "$work/longo.pdf" "$root/bench/lib" <<'PY'
import random, sys
sys.path.insert(0, sys.argv[2])
from pdf_writer import write, font
random.seed(7)
words = "casa rio pedra tempo livro janela cidade noite caminho vento mar porta luz sombra papel linha".split()
line = lambda: ("(%s) '" % " ".join(random.choice(words) for _ in range(12))).encode()
write(sys.argv[1], [(b"BT /F1 11 Tf 14 TL 60 740 Td " + b" ".join(line() for _ in range(46)) + b" ET", font)
                    for _ in range(120)])
PY

# against TITLE SOURCE FORMAT PEER…: brivlon --convert FORMAT on SOURCE against the peer command
# (run in the run folder), in turn, as the rows above.
against() {
  local title=$1 source=$2 format=$3
  shift 3
  read -r ours oursTime < <(measure "$source" "$brivlon" --convert "$format" "$run/$source")
  read -r peer peerTime < <(measure "$source" "$@")
  python3 -c '
import sys
title = sys.argv[1]
ours, peer = int(sys.argv[2]), int(sys.argv[3])
ourTime, peerTime = float(sys.argv[4]), float(sys.argv[5])
print(f"{title:<20}{ours / 1024:>12.1f}{peer / 1024:>9.1f}{ours / peer:>7.2f}{ourTime:>11.2f}{peerTime:>8.2f}{ourTime / peerTime:>7.2f}")
' "$title" "$ours" "$peer" "$oursTime" "$peerTime"
}

echo
printf '%-20s%12s%9s%7s%11s%8s%7s\n' "PDF, 120 pages" "brivlon MiB" "peer MiB" ratio "brivlon s" "peer s" ratio
against "pages to PNG" longo.pdf png pdftoppm -r 300 "$run/longo.pdf" "$run/pagina"
against "text to TXT" longo.pdf txt pdftotext "$run/longo.pdf" "$run/longo-peer.txt"
