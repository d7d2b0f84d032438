#!/usr/bin/env bash
# Merging 50 small PDFs into one: brivlon's "PDF ÚNICO" against qpdf's own page merge.
# brivlon never overwrites, so every run gets a fresh folder of (hard-linked) inputs and writes
# its result there; qpdf gets the same treatment so both pay the same.
#
# Usage: bench/pdf.sh [count]   (needs a built build/brivlon, qpdf and hyperfine)
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
brivlon="$root/build/brivlon"
count=${1:-50}
[ -x "$brivlon" ] || { echo "build/brivlon is missing: run ./scripts/build" >&2; exit 1; }
for tool in qpdf hyperfine; do
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
