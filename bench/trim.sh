#!/usr/bin/env bash
# The trim editor and `--trim` against ffmpeg doing the same work alone, side by side:
#   - 5 minutes cut by stream copy out of a 10-minute 1080p file, against the same ffmpeg copy;
#   - an exact cut and a two-range join against ffmpeg with the same arguments and graph;
#   - the waveform of a 2-hour audio file against ffmpeg's decode alone;
#   - the ten thumbnails of a 10-minute 1080p clip against the ten frame commands one by one;
#   - the window with 20 clips, a timeline frame, and a 1080p preview playing.
# Usage: [RUNS=5] bench/trim.sh [more hyperfine options]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
brivlon="$root/build/bin/brivlon"
[ -x "$brivlon" ] || "$root/scripts/build"
[ -n "${BRIVLON_PRIVATE_HOME:-}" ] || exec "$root/tests/support/private-home" bash "$0" "$@"
cmake --build "$root/build" --target trim_bench >/dev/null
bench="$root/build/bench/trim_bench"
ffmpeg="$root/build/libexec/brivlon/resources/bin/ffmpeg"
[ -x "$ffmpeg" ] || ffmpeg=$(command -v ffmpeg)
runs=${RUNS:-5}

work=$(mktemp -d "${TMPDIR:-/tmp}/brivlon-bench-trim-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/home/.local/state" \
  XDG_DATA_HOME="$work/home/.local/share" BRIVLON_QUALITY=high QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
mkdir -p "$XDG_CONFIG_HOME"

echo "making the inputs…" >&2
"$ffmpeg" -hide_banner -v error -f lavfi -i "testsrc2=size=1920x1080:rate=10:duration=600" \
  -f lavfi -i "sine=frequency=440:duration=600" -c:v libx264 -preset ultrafast -g 50 -pix_fmt yuv420p \
  -c:a aac -b:a 128k long.mp4
"$ffmpeg" -hide_banner -v error -f lavfi -i "testsrc2=size=1920x1080:rate=30:duration=20" \
  -f lavfi -i "sine=frequency=440:duration=20" -c:v libx264 -preset ultrafast -pix_fmt yuv420p \
  -c:a aac -b:a 192k short.mp4
"$ffmpeg" -hide_banner -v error -f lavfi -i "sine=frequency=220:duration=7200" -c:a libmp3lame -b:a 96k long.mp3

prefix="-hide_banner -nostdin -loglevel error -nostats -progress pipe:1 -n"
h264="-sn -dn -c:v libx264 -preset veryfast -crf 21 -pix_fmt yuv420p -c:a aac -b:a 192k -movflags +faststart"
graph="[0:v]trim=start=2.000:end=6.000,setpts=PTS-STARTPTS[v0];[0:a]atrim=start=2.000:end=6.000,asetpts=PTS-STARTPTS[a0];\
[0:v]trim=start=10.000:end=14.000,setpts=PTS-STARTPTS[v1];[0:a]atrim=start=10.000:end=14.000,asetpts=PTS-STARTPTS[a1];\
[v0][a0][v1][a1]concat=n=2:v=1:a=1[vc][ac];[vc]scale=trunc(iw/2)*2:trunc(ih/2)*2[vo]"
fresh="rm -rf o && mkdir o && ln long.mp4 o/long.mp4 && ln short.mp4 o/short.mp4"

hyperfine --warmup 1 --runs "$runs" "$@" --prepare "$fresh" \
  --command-name "brivlon --trim, fast, 5 min of 10" "'$brivlon' --trim 60 360 keep fast o/long.mp4" \
  --command-name "ffmpeg stream copy" \
  "'$ffmpeg' $prefix -ss 60.000 -to 360.000 -i o/long.mp4 -map 0 -c copy -avoid_negative_ts make_zero o/x.mp4"
hyperfine --warmup 1 --runs "$runs" "$@" --prepare "$fresh" \
  --command-name "brivlon --trim, exact" "'$brivlon' --trim 2 8 keep x o/short.mp4" \
  --command-name "ffmpeg exact cut" \
  "'$ffmpeg' $prefix -ss 2.000 -to 8.000 -i o/short.mp4 $h264 -vf 'scale=trunc(iw/2)*2:trunc(ih/2)*2' o/x.mp4" \
  --command-name "brivlon --trim, two ranges" "'$brivlon' --trim 2-6,10-14 - keep x o/short.mp4" \
  --command-name "ffmpeg same graph" \
  "'$ffmpeg' $prefix -i o/short.mp4 -filter_complex '$graph' -map '[vo]' -map '[ac]' $h264 o/x.mp4"
hyperfine --warmup 1 --runs "$runs" "$@" \
  --command-name "peaks of 2 h of audio" "'$bench' peaks long.mp3" \
  --command-name "ffmpeg decode alone" \
  "'$ffmpeg' -hide_banner -loglevel error -i long.mp3 -vn -ac 1 -ar 2000 -f s16le - >/dev/null"
frames=""
for i in 0 1 2 3 4 5 6 7 8 9; do
  at=$(awk "BEGIN { print ($i + 0.5) * 60 }")
  frames+="'$ffmpeg' -hide_banner -loglevel error -ss $at -i long.mp4 -frames:v 1 -vf scale=-2:90 -f image2pipe -vcodec png - >/dev/null; "
done
hyperfine --warmup 1 --runs "$runs" "$@" \
  --command-name "ten thumbnails of 10 min 1080p" "'$bench' thumbs long.mp4" \
  --command-name "ten frame commands one by one" "$frames"

clips=()
for i in $(seq 1 20); do ln -f short.mp4 "clip$i.mp4"; clips+=("clip$i.mp4"); done
for i in 1 2 3; do "$bench" window "${clips[@]}"; done
"$bench" paint short.mp4
"$bench" play short.mp4 5
