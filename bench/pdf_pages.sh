#!/usr/bin/env bash
# Peak memory and time of brivlon --convert png on text PDFs of 1 to 20,000 Letter pages (46 lines
# of Helvetica each, as in bench/memory.sh), to see that memory stays flat in the page count: the
# largest resident size of the process and its children (/usr/bin/time %M), and the wall time,
# medians of the runs. pdftoppm -r 300 writing PPM (drawing only) is timed up to 120 pages; past
# that its pictures would take tens of gigabytes of disk.
# Figures on 8 cores shared with other work (load 8 to 17), MiB and s, before pieces → with them:
#   1: 57.1, 0.18 → 57.3, 0.23       120: 162.4, 2.87 → 162.5, 2.79 (pdftoppm 5.8 to 6.1 s)
#   1000: 176.0, 21.6 → 171.5, 20.8   4000: 224.4, 42.3 → 188.9, 39.8
#   10000: 320 to 328, 90 to 149 → 219 to 224, 105 to 121 (CPU time 741 to 753 s → 723 to 743 s)
# Pieces with qpdf's list of pages (every page's dictionary of the source read, some 4 KB a page,
# and left on the heap while the pages were drawn) → with the page tree walked a kid at a time;
# MiB, s and the load at each, on 8 cores shared with other helpers and a stress run:
#   1: 56.8, 0.16 (3) → 57.1, 0.20 (31)        120: 162.0, 3.45 (6) → 162.9, 6.22 (23)
#   1000: 173.1, 31.6 (14) → 168.5, 57.0 (30)  4000: 188.7, 115 (22) → 169.7, 77 (16)
#   10000: 218.9, 446 (20) → 170.6, 233 (22); one run each at load 7 to 8: 218.3, 113 → 170.3, 112
#   20000 (three single runs each): 269.2, 268.3, 268.5 MiB in 724, 437, 253 s (load 17 to 22,
#   12.5, 8.4) → 170.9, 171.1, 171.0 MiB in 573, 517, 261 s (load 16, 14.6, 8.4)
# Usage: bench/pdf_pages.sh [runs] [page counts…]   (default 3; 1 120 1000 4000 10000 20000)
# BRIVLON=path/to/brivlon compares another build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
brivlon="${BRIVLON:-$root/build/bin/brivlon}"
[ -x "$brivlon" ] || "$root/scripts/build"
[ -n "${BRIVLON_PRIVATE_HOME:-}" ] || exec "$root/tests/support/private-home" bash "$0" "$@"
runs=${1:-3}
shift || true
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1 120 1000 4000 10000 20000)

for tool in python3 /usr/bin/time pdftoppm; do
  command -v "$tool" >/dev/null || { echo "pdf_pages.sh: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/brivlon-bench-pages-XXXXXX")
trap 'rm -rf "$work"' EXIT

# seconds and peak KiB of one command, in a fresh run folder; its outputs are removed at once.
once() {
  rm -rf "$work/run" && mkdir -p "$work/run" && ln "$work/doc.pdf" "$work/run/doc.pdf"
  /usr/bin/time -o "$work/time" -f '%M %e' "$@" >/dev/null
  rm -rf "$work/run"
  cat "$work/time"
}
median() {
  python3 -c '
import statistics, sys
rows = [line.split() for line in sys.stdin]
print(statistics.median(int(r[0]) for r in rows) / 1024, statistics.median(float(r[1]) for r in rows))'
}

echo "medians of $runs runs, $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%8s%13s%11s%11s%9s\n' pages "brivlon MiB" "brivlon s" "pdftoppm s" load
for pages in "${counts[@]}"; do
  python3 - "$work/doc.pdf" "$root/bench/lib" "$pages" <<'PY'
import random, sys
sys.path.insert(0, sys.argv[2])
from pdf_writer import write, font
random.seed(7)
words = "casa rio pedra tempo livro janela cidade noite caminho vento mar porta luz sombra papel linha".split()
line = lambda: ("(%s) '" % " ".join(random.choice(words) for _ in range(12))).encode()
write(sys.argv[1], [(b"BT /F1 11 Tf 14 TL 60 740 Td " + b" ".join(line() for _ in range(46)) + b" ET", font)
                    for _ in range(int(sys.argv[3]))])
PY
  read -r mib secs < <(for ((i = 0; i < runs; i++)); do once "$brivlon" --convert png "$work/run/doc.pdf"; done | median)
  peer=-
  if [ "$pages" -le 120 ]; then
    read -r _ peer < <(for ((i = 0; i < runs; i++)); do once pdftoppm -r 300 "$work/run/doc.pdf" "$work/run/p"; done | median)
  fi
  printf '%8d%13.1f%11.2f%11s%9s\n' "$pages" "$mib" "$secs" "$peer" "$(cut -d' ' -f1 /proc/loadavg)"
done
