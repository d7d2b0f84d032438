#!/usr/bin/env bash
# Merging 50 small PDFs into one: brivlon's "PDF ÚNICO" against qpdf's own page merge.
# brivlon never overwrites, so every run gets a fresh folder of (hard-linked) inputs and writes
# its result there; qpdf gets the same treatment so both pay the same.
#
# Then pages to images: brivlon's PNG export of a long text-heavy document (made by LibreOffice
# from generated text) and of a document of sparse pages, against pdftoppm at the same 300 dpi
# writing uncompressed PPM, that is drawing only. The Brivlon/pdftoppm ratio of the mean times is
# printed for each; a busy machine skews both sides alike, as they run in turn in one session.
#
# Usage: bench/pdf.sh [count] [pages]   (needs a built build/bin/brivlon, qpdf, pdftoppm, hyperfine
#                                        and python3; the text-heavy document needs LibreOffice)
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
brivlon="$root/build/bin/brivlon"
count=${1:-50}
pages=${2:-120}
[ -x "$brivlon" ] || { echo "build/bin/brivlon is missing: run ./scripts/build" >&2; exit 1; }
[ -n "${BRIVLON_PRIVATE_HOME:-}" ] || exec "$root/tests/support/private-home" bash "$0" "$@"
for tool in qpdf hyperfine pdftoppm python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done

work=$(mktemp -d /tmp/brivlon-bench-pdf-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"

# A two-page Letter PDF with a line of Helvetica text on each page; object offsets are counted
# so that the cross-reference table is exact.
make_pdf() {
  local out=$1 label=$2
  local page1="BT /F1 24 Tf 72 700 Td (Documento $label, pagina 1) Tj ET"
  local page2="BT /F1 24 Tf 72 700 Td (Documento $label, pagina 2) Tj ET"
  local objects=(
    "<< /Type /Catalog /Pages 2 0 R >>"
    "<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 /MediaBox [0 0 612 792] >>"
    "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"
    "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 3 0 R >> >> /Contents 5 0 R >>"
    $'<< /Length '"${#page1}"$' >>\nstream\n'"$page1"$'\nendstream'
    "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 3 0 R >> >> /Contents 7 0 R >>"
    $'<< /Length '"${#page2}"$' >>\nstream\n'"$page2"$'\nendstream'
  )
  local body=$'%PDF-1.4\n' xref i
  xref=$(printf '0000000000 65535 f \n')$'\n'
  for i in "${!objects[@]}"; do
    xref+=$(printf '%010d 00000 n ' "${#body}")$'\n'
    body+="$((i + 1)) 0 obj"$'\n'"${objects[$i]}"$'\nendobj\n'
  done
  local start=${#body}
  body+="xref"$'\n'"0 $((${#objects[@]} + 1))"$'\n'"$xref"
  body+="trailer"$'\n'"<< /Size $((${#objects[@]} + 1)) /Root 1 0 R >>"$'\n'"startxref"$'\n'"$start"$'\n%%EOF\n'
  printf '%s' "$body" >"$out"
}

for i in $(seq 1 "$count"); do
  make_pdf "$work/in/$(printf 'doc-%03d.pdf' "$i")" "$i"
done
qpdf --check "$work/in/doc-001.pdf" >/dev/null

fresh="rm -rf '$work/run' && mkdir '$work/run' && cp -l '$work/in/'*.pdf '$work/run/'"
cd "$work"
QT_QPA_PLATFORM=offscreen hyperfine --warmup 2 --runs 20 \
  --prepare "$fresh" \
  -n "brivlon PDF ÚNICO ($count PDFs)" "'$brivlon' --convert 'PDF ÚNICO' run/*.pdf >/dev/null" \
  -n "qpdf --empty --pages ($count PDFs)" "qpdf --empty --pages run/*.pdf -- run/out.pdf"

# The mean of Brivlon's run over the peer's, from hyperfine's JSON (Brivlon first).
ratio() {
  python3 - "$1" "$2" <<'PY'
import json, sys
brivlon, peer = (r["mean"] for r in json.load(open(sys.argv[1]))["results"])
print(f"Brivlon/pdftoppm ({sys.argv[2]}): {brivlon:.2f} s / {peer:.2f} s = {brivlon / peer:.2f}x")
PY
}

# Times `brivlon --convert png` on $1 against `pdftoppm -r 300` on the same file.
pages_to_images() {
  local pdf=$1 label=$2 name
  name=$(basename "$pdf" .pdf)
  local fresh="rm -rf '$work/run' && mkdir '$work/run' && cp -l '$pdf' '$work/run/'"
  QT_QPA_PLATFORM=offscreen hyperfine --warmup 1 --runs 3 --export-json "$work/$name.json" \
    --prepare "$fresh" \
    -n "brivlon png ($label)" "'$brivlon' --convert png 'run/$name.pdf' >/dev/null" \
    -n "pdftoppm -r 300 ($label)" "pdftoppm -r 300 'run/$name.pdf' run/page"
  ratio "$work/$name.json" "$label" | tee -a "$work/ratios"
}

# Sparse pages: the two-page document above repeated; a line of text on each white page.
qpdf --empty --pages $(for _ in $(seq 1 $((pages / 2))); do printf '%s ' "$work/in/doc-001.pdf"; done) -- "$work/esparso.pdf"
touch "$work/ratios"

if command -v soffice >/dev/null; then
  # Paragraphs of random words, as many as fill about $pages A4 pages in LibreOffice's default style.
  python3 - "$work/longo.txt" "$pages" <<'PY'
import random, sys
random.seed(7)
words = ("casa rio pedra tempo livro janela cidade noite manhã caminho vento mar porta luz sombra papel "
         "linha verde azul campo ponte lago palavra história trabalho escola mundo cor forte leve").split()
paragraphs = (" ".join(random.choice(words) for _ in range(random.randint(40, 120))).capitalize() + "."
              for _ in range(8 * int(sys.argv[2])))
open(sys.argv[1], "w").write("\n\n".join(paragraphs))
PY
  soffice --headless "-env:UserInstallation=file://$work/office" --convert-to pdf --outdir "$work" "$work/longo.txt" >/dev/null 2>&1
  pages_to_images "$work/longo.pdf" "text-heavy, $(pdfinfo "$work/longo.pdf" | awk '/^Pages:/ {print $2}') pages"
else
  echo "soffice is missing: no text-heavy document" >&2
fi
pages_to_images "$work/esparso.pdf" "sparse, $pages pages"
cat "$work/ratios"
