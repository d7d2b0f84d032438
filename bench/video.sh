#!/usr/bin/env bash
# Converting a 30-second 1080p clip to MP4: `brivlon --convert` against plain ffmpeg given the
# same arguments the engine uses at the high level, each run writing into a fresh folder.
# Usage: [RUNS=5] [WARMUP=1] bench/video.sh [more hyperfine options, e.g. --export-markdown x.md]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
brivlon="$root/build/bin/brivlon"
[ -x "$brivlon" ] || "$root/scripts/build"
[ -n "${BRIVLON_PRIVATE_HOME:-}" ] || exec "$root/tests/support/private-home" bash "$0" "$@"
ffmpeg="$root/build/libexec/brivlon/resources/bin/ffmpeg"
[ -x "$ffmpeg" ] || ffmpeg=$(command -v ffmpeg)

work=$(mktemp -d "${TMPDIR:-/tmp}/brivlon-bench-video-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

"$ffmpeg" -hide_banner -v error \
  -f lavfi -i "testsrc2=size=1920x1080:rate=30:duration=30" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=30" \
  -c:v libx264 -preset ultrafast -crf 18 -pix_fmt yuv420p -c:a aac -b:a 192k -shortest clip.mov

# The program reads no saved choices here: its own settings folder, and the level pinned.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/home/.local/state" \
  XDG_DATA_HOME="$work/home/.local/share" BRIVLON_QUALITY=high QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_CONFIG_HOME"

# The output goes beside its source, so each run gets the clip hard-linked into a new folder.
engine_args="-sn -dn -c:v libx264 -preset veryfast -crf 21 -pix_fmt yuv420p \
-vf 'scale=trunc(iw/2)*2:trunc(ih/2)*2' -c:a aac -b:a 192k -movflags +faststart"
prefix="-hide_banner -nostdin -loglevel error -nostats -progress pipe:1 -n"

hyperfine --warmup "${WARMUP:-1}" --runs "${RUNS:-5}" "$@" \
  --command-name "brivlon --convert MP4" \
  --prepare "rm -rf b && mkdir b && ln clip.mov b/clip.mov" \
  "'$brivlon' --convert MP4 b/clip.mov" \
  --command-name "ffmpeg" \
  --prepare "rm -rf f && mkdir f" \
  "'$ffmpeg' $prefix -i clip.mov $engine_args f/clip.mp4"
