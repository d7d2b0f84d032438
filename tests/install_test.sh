#!/usr/bin/env bash
# Installs the build into a scratch prefix, moves the whole tree elsewhere, and runs it from
# there: a conversion, a tool, and the desktop program, whose modules must come from the moved
# tree. Runs on the private X server of support/with-x.
#   install_test.sh <build folder>
# The desktop program registers its autostart and desktop entries for its user: it runs in a
# home of its own.
set -euo pipefail
[ -n "${BRIVLON_PRIVATE_HOME:-}" ] || exec "$(dirname "$0")/support/private-home" "$0" "$@"
build=$1
scratch=$(mktemp -d)
trap 'kill "${app:-}" 2>/dev/null || true; rm -rf "$scratch"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$scratch/primeiro" >/dev/null
desktop-file-validate "$scratch/primeiro/share/applications/brivlon.desktop" || fail "the desktop entry does not validate"
[ -s "$scratch/primeiro/share/icons/hicolor/48x48/apps/brivlon.png" ] || fail "no icon"

# Nothing of the tests is installed: no hook of the tests' worker among the exported symbols, none
# of its switches (BRIVLON_WORKER_…) among the strings, and no variable of ours that the README's
# table leaves out (a string constant of the read-only data; one the compiler builds in the code
# lies there in pieces, which count for the tests' switches only).
source_root=$(cd "$(dirname "$0")/.." && pwd)
elves=0
while IFS= read -r -d '' file; do
  [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  elves=$((elves + 1))
  symbols=$(nm -D -C --defined-only "$file")
  if grep -E 'Traps|Unfenced|Faulty' <<<"$symbols"; then fail "$file exports a hook of the tests"; fi
  if strings -a "$file" | grep -E 'BRIVLON_WORKER_[A-Z]'; then fail "$file names a switch of the tests' worker"; fi
  for name in $(objcopy -O binary --only-section=.rodata "$file" /dev/stdout | tr '\0' '\n' | grep -xE 'BRIVLON_[A-Z0-9_]+' | sort -u); do
    grep -q "\`$name\`" "$source_root/README.md" || fail "$file reads $name, which the README does not name"
  done
done < <(find "$scratch/primeiro" -type f -print0)
[ "$elves" -ge 6 ] || fail "only $elves programs and modules installed"

mv "$scratch/primeiro" "$scratch/outro lugar"
prefix="$scratch/outro lugar"
brivlon="$prefix/bin/brivlon"

work="$scratch/arquivos"
mkdir -p "$work"
vips black "$work/foto.png" 64 48
out=$("$brivlon" --convert jpg "$work/foto.png")
[ "$out" = "$work/foto.jpg" ] && [ -s "$work/foto.jpg" ] || fail "--convert printed '$out'"
out=$("$brivlon" --tool imgRotate -- "$work/foto.jpg")
[ -s "$out" ] || fail "--tool printed '$out'"
pdf=$("$brivlon" --convert pdf "$work/foto.png")
out=$("$brivlon" --tool pdfRotate -- "$pdf")
[ -s "$out" ] || fail "--tool pdfRotate printed '$out'"
# A PDF's text comes from a module of its own, opened by the light worker.
out=$("$brivlon" --convert txt "$pdf")
[ -f "$out" ] || fail "--convert txt printed '$out'"
# Faces are blurred through a module of its own, opened by the image worker.
cp "$(dirname "$0")/data/astronaut.jpg" "$work/rosto.jpg"
out=$("$brivlon" --tool imgBlurFaces -- "$work/rosto.jpg")
[ -s "$out" ] || fail "--tool imgBlurFaces printed '$out'"

# The desktop program, until it says it is ready.
export BRIVLON_TRACE=1 BRIVLON_FORCE_OFFLINE=1 QT_QPA_PLATFORM=xcb
coproc APP { exec "$brivlon" 2>&1; }
app=$APP_PID
ready=0
while IFS= read -r -t 30 line <&"${APP[0]}"; do
  case "$line" in *pronto*) ready=1; break ;; esac
done
[ "$ready" = 1 ] || fail "the desktop program did not start"
grep -q "$prefix/libexec/brivlon/brivlon-desktop.so" "/proc/$app/maps" || fail "the desktop module did not come from the moved tree"
kill -TERM "$app"
wait "$app" || fail "the desktop program did not end cleanly"
app=
echo "install_test: ok"
