#!/usr/bin/env bash
# Documents: DOCX → PDF through Brivlon's office route against LibreOffice's own command run
# directly on the same file (both warm: the file and the program in the page cache; LibreOffice
# once with a profile it keeps, once with a fresh profile per run as the route gives the
# distribution's suite), then Markdown → HTML and DOCX → TXT on a 200-page document against
# pandoc when it is installed.
#
# Usage: bench/documents.sh   (needs a built build/bin/brivlon, hyperfine, python3 and LibreOffice)
set -euo pipefail
export LC_ALL=C.UTF-8

root=$(cd "$(dirname "$0")/.." && pwd)
brivlon="$root/build/bin/brivlon"
soffice=/usr/lib/libreoffice/program/soffice
[ -x "$brivlon" ] || { echo "build/bin/brivlon is missing: run ./scripts/build" >&2; exit 1; }
[ -n "${BRIVLON_PRIVATE_HOME:-}" ] || exec "$root/tests/support/private-home" bash "$0" "$@"
for tool in hyperfine python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done

work=$(mktemp -d /tmp/brivlon-bench-docs-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/ours" "$work/direct" "$work/fresh" "$work/big"

python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
def text(paragraphs):
    lines = []
    for i in range(paragraphs):
        if i % 40 == 0:
            lines.append(f"## Seção {i // 40 + 1}\n")
        lines.append(f"Parágrafo {i} com **negrito**, *itálico* e [um link](http://exemplo.org/{i}): "
                     "o texto segue por mais algumas palavras para ocupar a linha inteira e passar dela.\n")
        if i % 10 == 0:
            lines.append("- um item\n- outro item\n")
    return "\n".join(lines)
open(f"{work}/ours/carta.md", "w").write(text(120))
open(f"{work}/big/livro.md", "w").write(text(2400))  # about 200 pages
PY
"$brivlon" --convert docx "$work/ours/carta.md" >/dev/null
"$brivlon" --convert docx "$work/big/livro.md" >/dev/null
cp "$work/ours/carta.docx" "$work/direct/carta.docx"
cp "$work/ours/carta.docx" "$work/fresh/carta.docx"
HOME="$work" "$soffice" -env:UserInstallation="file://$work/perfil" --headless --convert-to pdf \
  --outdir "$work/direct" "$work/direct/carta.docx" >/dev/null 2>&1

echo "== DOCX → PDF (office route)"
hyperfine --warmup 1 --runs 5 --export-json "$work/office.json" \
  --prepare "rm -f '$work/ours/carta.pdf' '$work/direct/carta.pdf' '$work/fresh/carta.pdf'; rm -rf '$work/perfil-novo'" \
  -n brivlon "'$brivlon' --convert pdf '$work/ours/carta.docx'" \
  -n "soffice (kept profile)" "'$soffice' -env:UserInstallation=file://$work/perfil --headless --norestore --convert-to pdf --outdir '$work/direct' '$work/direct/carta.docx'" \
  -n "soffice (fresh profile)" "'$soffice' -env:UserInstallation=file://$work/perfil-novo --headless --norestore --convert-to pdf --outdir '$work/fresh' '$work/fresh/carta.docx'"

echo "== Markdown → HTML and DOCX → TXT, 200 pages"
commands=(-n "brivlon md→html" "'$brivlon' --convert html '$work/big/livro.md'"
          -n "brivlon docx→txt" "'$brivlon' --convert txt '$work/big/livro.docx'")
if command -v pandoc >/dev/null; then
  commands+=(-n "pandoc md→html" "pandoc -f markdown -t html -o '$work/big/pandoc.html' '$work/big/livro.md'"
             -n "pandoc docx→txt" "pandoc -t plain -o '$work/big/pandoc.txt' '$work/big/livro.docx'")
else
  echo "(pandoc is not installed: Brivlon alone)"
fi
hyperfine --warmup 1 --runs 5 --export-json "$work/own.json" \
  --prepare "rm -f '$work/big/livro.html' '$work/big/livro.txt'" "${commands[@]}"

python3 - "$work/office.json" <<'PY'
import json, sys
results = {r["command"]: r["mean"] for r in json.load(open(sys.argv[1]))["results"]}
ours = results["brivlon"]
for other in ("soffice (kept profile)", "soffice (fresh profile)"):
    print(f"brivlon / {other}: {ours / results[other]:.2f}×")
PY
