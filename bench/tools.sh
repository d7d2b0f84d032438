#!/usr/bin/env bash
# The file tools against the programs they stand on doing the same work: image tools on a
# 24-megapixel JPEG against vips (same quality), PDF tools on a 500-page document against qpdf,
# media tools against ffmpeg run directly with the same arguments. Each row gives the median
# seconds, processor seconds and peak resident memory (process and children) of brivlon --tool
# and of the peer, and the ratios brivlon / peer.
# The convert section weighs what every media file pays around ffmpeg's own work: sixteen 4-second
# 720p clips converted to MP4 in one run against a loop of the same ffmpeg commands, a song-long
# WAV to MP3 and the mute of one of those clips against ffmpeg.
# Usage: bench/tools.sh [runs [images|pdf|media|convert]...]   (default 3 runs, every section)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# BRIVLON names another build's program, to compare two builds on the same sources.
brivlon="${BRIVLON:-$root/build/bin/brivlon}"
[ -x "$brivlon" ] || "$root/scripts/build"
[ -n "${BRIVLON_PRIVATE_HOME:-}" ] || exec "$root/tests/support/private-home" bash "$0" "$@"
runs=${1:-3}
sections=("${@:2}")
[ ${#sections[@]} -eq 0 ] && sections=(images pdf media convert)
wants() { [[ " ${sections[*]} " == *" $1 "* ]]; }

for tool in vips qpdf ffmpeg python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "tools.sh: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/brivlon-bench-tools-XXXXXX")
trap 'rm -rf "$work"' EXIT
# Each section makes only its own sources.
. "$root/bench/lib/photo.sh"
if wants images; then
make_photo "$work"
cp "$root/tests/data/astronaut.jpg" "$work/face.jpg"
# The test portrait enlarged to 4864 × 4864 (24 megapixels), so that there is a face to find.
vips resize "$work/face.jpg" "$work/portrait.jpg[Q=92]" 19
# And to a 4000 × 3000 photo (12 megapixels), the face in its upper part: the face scan costs the
# same at any size, so it weighs most against the smaller photos people take.
vips resize "$work/face.jpg" "$work/portrait-big.v" 15.625
vips crop "$work/portrait-big.v" "$work/portrait12.jpg[Q=92]" 0 0 4000 3000
rm "$work/portrait-big.v"
fi

# Documents: 500 pages of text; 40 pages each with a 1200 × 900 picture in the page's own size
# (nothing to downsample, so both sides optimise the same images).
wants pdf && python3 - "$work" "$root/bench/lib" <<'PY'
import sys, zlib, random
work = sys.argv[1]
sys.path.insert(0, sys.argv[2])
from pdf_writer import write, font
random.seed(1)
# Forty lines a page, each page its own words.
text = [(b"BT /F1 11 Tf 14 TL 72 740 Td " + b"".join(b"(Pagina %d, linha %d: %s) '\n" % (i, j, bytes(random.choice(b"abcdefghij klmnop") for _ in range(60))) for j in range(40)) + b"ET", font) for i in range(500)]
write(work + "/texto.pdf", text)
def picture(objects):
    # A smooth gradient with some grain, 1200 x 900 RGB.
    rows = bytearray()
    for y in range(900):
        grain = random.randbytes(1200 * 3)
        rows += bytes(((x * 3 + c * 40 + y // 4 + (grain[x * 3 + c] & 15)) & 255)
                      for x in range(1200) for c in range(3))
    data = zlib.compress(bytes(rows), 6)
    objects.append(b"<< /Type /XObject /Subtype /Image /Width 1200 /Height 900 /ColorSpace /DeviceRGB "
                   b"/BitsPerComponent 8 /Filter /FlateDecode /Length %d >>stream\n" % len(data) + data + b"\nendstream")
    return b"<< /XObject << /Im0 %d 0 R >> >>" % len(objects)
write(work + "/fotos.pdf", [(b"q 540 0 0 405 36 300 cm /Im0 Do Q", picture) for _ in range(40)])
PY

if wants media; then
ffmpeg -v error -f lavfi -i testsrc2=size=1280x720:rate=30:duration=20 -f lavfi \
  -i "sine=frequency=440:sample_rate=44100:duration=20" -c:v libx264 -preset veryfast -pix_fmt yuv420p \
  -c:a aac -shortest "$work/clip.mp4"
cp "$work/clip.mp4" "$work/clip2.mp4"
ffmpeg -v error -i "$work/clip.mp4" -vn -c:a pcm_s16le "$work/voz.wav"
# The clip above is small enough that a stream copy of it takes about as long as starting
# ffmpeg, so those rows mostly weigh fixed costs. Closer to what people drop: three minutes of
# 1080p H.264 at about 8 Mbit/s with stereo AAC (grain keeps the encoder spending its bits), and
# ten minutes of 48 kHz stereo WAV.
ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=180 -f lavfi \
  -i "sine=frequency=440:sample_rate=48000:duration=180" -vf "noise=alls=16:allf=t" -c:v libx264 \
  -preset ultrafast -b:v 8M -maxrate 8M -bufsize 16M -pix_fmt yuv420p -c:a aac -ac 2 -b:a 160k -shortest \
  "$work/longo.mp4"
cp "$work/longo.mp4" "$work/longo2.mp4"
ffmpeg -v error -f lavfi -i "sine=frequency=330:sample_rate=48000:duration=600" -f lavfi \
  -i "anoisesrc=color=pink:amplitude=0.2:sample_rate=48000:duration=600" \
  -filter_complex "[0][1]amerge=inputs=2" -c:a pcm_s16le "$work/longo.wav"
fi
if wants convert; then
ffmpeg -v error -f lavfi -i testsrc2=size=1280x720:rate=30:duration=4 -f lavfi \
  -i "sine=frequency=440:sample_rate=48000:duration=4" -c:v libx264 -preset veryfast -pix_fmt yuv420p \
  -c:a aac -b:a 160k -shortest "$work/filme01.mov"
for i in $(seq -w 2 16); do ln "$work/filme01.mov" "$work/filme$i.mov"; done
ffmpeg -v error -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=180" -ac 2 -c:a pcm_s16le "$work/som.wav"
fi

# once COMMAND…: runs COMMAND in a fresh folder holding hard links to the sources; prints its
# peak resident memory in KiB, its seconds (to the millisecond: a stream copy of a short clip
# takes a tenth of a second) and the processor seconds of it and its children. On a shared
# machine the processor seconds move much less with the load than the elapsed ones.
run="$work/run"
once() {
  rm -rf "$run" && mkdir -p "$run"
  for f in x.jpg face.jpg portrait.jpg portrait12.jpg texto.pdf fotos.pdf clip.mp4 clip2.mp4 voz.wav longo.mp4 \
    longo2.mp4 longo.wav som.wav filme{01..16}.mov; do [ ! -e "$work/$f" ] || ln "$work/$f" "$run/$f"; done
  local start=$EPOCHREALTIME
  (cd "$run" && /usr/bin/time -o "$work/time" -f '%M %U %S' "$@" >/dev/null)
  local end=$EPOCHREALTIME
  read -r memory user system < <(tail -n 1 "$work/time")
  python3 -c 'import sys; print(sys.argv[1], float(sys.argv[3]) - float(sys.argv[2]), float(sys.argv[4]) + float(sys.argv[5]))' \
    "$memory" "$start" "$end" "$user" "$system"
}

# row TITLE :: BRIVLON-TOOL-ARGS… :: PEER-COMMAND…   (the arguments of --tool, or of $mode)
mode=--tool
# The two sides take turns, run after run, so that a change in the machine's load falls on both;
# each side's figures are the medians of its runs.
row() {
  local title=$1
  shift 2
  local ours=()
  while [ "$1" != "::" ]; do ours+=("$1"); shift; done
  shift
  local samples=()
  for ((i = 0; i < runs; i++)); do
    samples+=("ours $(once "$brivlon" "$mode" "${ours[@]}")" "peer $(once "$@")")
  done
  printf '%s\n' "${samples[@]}" | python3 -c '
import statistics, sys
t = sys.argv[1]
rows = [line.split() for line in sys.stdin]
median = lambda side, i, kind: statistics.median(kind(r[i]) for r in rows if r[0] == side)
om, pm, ot, pt = median("ours", 1, int), median("peer", 1, int), median("ours", 2, float), median("peer", 2, float)
oc, pc = median("ours", 3, float), median("peer", 3, float)
cr = oc / pc if pc else float("nan")
print(f"{t:<30}{ot:>10.3f}{pt:>8.3f}{ot / pt:>7.2f}{oc:>12.2f}{pc:>9.2f}{cr:>7.2f}"
      f"{om / 1024:>12.1f}{pm / 1024:>9.1f}{om / pm:>7.2f}")
' "$title"
}

echo "medians of $runs runs; ratios are brivlon / peer; the machine's load moves the times"
printf '%-30s%10s%8s%7s%12s%9s%7s%12s%9s%7s\n' tool "brivlon s" "peer s" ratio "brivlon cpu" "peer cpu" ratio \
  "brivlon MiB" "peer MiB" ratio
if wants images; then
row "resize 50 % / vips resize" :: imgResize scale=50 -- x.jpg :: vips resize x.jpg "out.jpg[Q=90]" 0.5 --kernel lanczos3
row "compress 1920 / vips resize" :: imgCompress maxSide=1920 -- x.jpg :: vips resize x.jpg "out.jpg[Q=70]" 0.32 --kernel lanczos3
row "rotate / vips rot d90" :: imgRotate -- x.jpg :: vips rot x.jpg "out.jpg[Q=90]" d90
row "crop 1:1 / vips crop" :: imgCrop aspect=1:1 -- x.jpg :: vips crop x.jpg "out.jpg[Q=90]" 1000 0 4000 4000
row "strip / vips copy [strip]" :: imgStrip -- x.jpg :: vips copy x.jpg "out.jpg[Q=95,strip]"
row "blur faces / vips copy" :: imgBlurFaces -- portrait.jpg :: vips copy portrait.jpg "out.jpg[Q=90]"
row "blur faces 12 MP / vips copy" :: imgBlurFaces -- portrait12.jpg :: vips copy portrait12.jpg "out.jpg[Q=90]"
fi
if wants pdf; then
row "pdf rotate / qpdf" :: pdfRotate -- texto.pdf :: qpdf --rotate=+90 texto.pdf out.pdf
row "pdf extract / qpdf --pages" :: pdfExtract pages=1-250 -- texto.pdf :: qpdf --empty --pages texto.pdf 1-250 -- out.pdf
row "pdf split / qpdf --split-pages" :: pdfSplit -- texto.pdf :: qpdf --split-pages texto.pdf out.pdf
row "pdf compress / qpdf optimise" :: pdfCompress -- fotos.pdf :: qpdf --optimize-images --object-streams=generate fotos.pdf out.pdf
fi
ff=(ffmpeg -hide_banner -nostdin -loglevel error -nostats -y)
if wants media; then
row "video compress / ffmpeg" :: vidCompress quality=70 resolution=720 -- clip.mp4 :: "${ff[@]}" -i clip.mp4 -sn -dn \
  -c:v libx265 -preset fast -crf 28 -x265-params log-level=error -tag:v hvc1 -pix_fmt yuv420p \
  -vf "scale='if(gt(iw,ih),-2,min(720,trunc(iw/2)*2))':'if(gt(iw,ih),min(720,trunc(ih/2)*2),-2)'" \
  -c:a aac -b:a 128k -movflags +faststart out.mp4
row "mute / ffmpeg" :: vidMute -- clip.mp4 :: "${ff[@]}" -i clip.mp4 -c:v copy -an -sn out.mp4
row "rotate video / ffmpeg" :: vidRotate -- clip.mp4 :: "${ff[@]}" -i clip.mp4 -sn -dn -c:v libx264 -preset veryfast \
  -crf 21 -pix_fmt yuv420p -vf "transpose=1,scale=trunc(iw/2)*2:trunc(ih/2)*2" -c:a aac -b:a 192k -movflags +faststart out.mp4
row "normalise / ffmpeg" :: audNormalize -- voz.wav :: "${ff[@]}" -i voz.wav -vn -sn -c:a pcm_s16le \
  -af "loudnorm=I=-16:TP=-1.5:LRA=11,aformat=sample_rates=44100" out.wav
printf "file '%s'\nfile '%s'" "$work/run/clip.mp4" "$work/run/clip2.mp4" >"$work/lista.txt"
row "join by copy / ffmpeg" :: vidJoin -- clip.mp4 clip2.mp4 :: "${ff[@]}" -f concat -safe 0 -i "$work/lista.txt" -c copy out.mp4
row "mute 3 min 1080p / ffmpeg" :: vidMute -- longo.mp4 :: "${ff[@]}" -i longo.mp4 -c:v copy -an -sn out.mp4
row "normalise 10 min wav / ffmpeg" :: audNormalize -- longo.wav :: "${ff[@]}" -i longo.wav -vn -sn -c:a pcm_s16le \
  -af "loudnorm=I=-16:TP=-1.5:LRA=11,aformat=sample_rates=48000" out.wav
printf "file '%s'\nfile '%s'" "$work/run/longo.mp4" "$work/run/longo2.mp4" >"$work/lista-longo.txt"
row "join 2 × 3 min 1080p / ffmpeg" :: vidJoin -- longo.mp4 longo2.mp4 :: "${ff[@]}" -f concat -safe 0 \
  -i "$work/lista-longo.txt" -c copy out.mp4
fi
if wants convert; then
# The engine's arguments at the high level, as the program gives them.
export BRIVLON_QUALITY=high
mode=--convert
cat >"$work/mp4.sh" <<'SH'
for f in filme*.mov; do
  ffmpeg -hide_banner -nostdin -loglevel error -nostats -progress pipe:1 -n -i "$f" -map 0:V:0 -map '0:a:0?' \
    -sn -dn -c:v libx264 -preset veryfast -crf 21 -pix_fmt yuv420p -vf 'scale=trunc(iw/2)*2:trunc(ih/2)*2' \
    -c:a aac -b:a 192k -movflags +faststart "${f%.mov}.mp4" >/dev/null || exit 1
done
SH
row "16 × 4 s 720p to MP4 / ffmpeg" :: MP4 filme{01..16}.mov :: bash "$work/mp4.sh"
row "3 min WAV to MP3 / ffmpeg" :: MP3 som.wav :: "${ff[@]}" -progress pipe:1 -i som.wav -map 0:a:0 -vn -sn \
  -c:a libmp3lame -b:a 256k som.mp3
mode=--tool
row "mute 4 s 720p / ffmpeg" :: vidMute -- filme01.mov :: "${ff[@]}" -i filme01.mov -c:v copy -an -sn out.mov
fi
if wants pdf; then
rm -rf "$run" && mkdir -p "$run" && ln "$work/fotos.pdf" "$run/fotos.pdf"
(cd "$run" && "$brivlon" --tool pdfCompress -- fotos.pdf >/dev/null && qpdf --optimize-images --object-streams=generate fotos.pdf out.pdf)
echo "pdf compress sizes: brivlon $(stat -c %s "$run/fotos (comprimido).pdf") bytes, qpdf $(stat -c %s "$run/out.pdf") bytes (source $(stat -c %s "$work/fotos.pdf"))"
fi
