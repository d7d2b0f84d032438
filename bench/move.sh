#!/usr/bin/env bash
# "Mover para…" of a 2 GB file between two file systems (/dev/shm and the disk under /tmp, which
# `df` shows apart): once sparse, once with every page written, and back from the disk.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build" >/dev/null
cmake --build "$root/build" --target move_bench >&2
shm=$(mktemp -d /dev/shm/brivlon-move-XXXXXX)
disk=$(mktemp -d /tmp/brivlon-move-XXXXXX)
trap 'rm -rf "$shm" "$disk"' EXIT
[ "$(stat -c %d "$shm")" != "$(stat -c %d "$disk")" ] || { echo "one file system" >&2; exit 1; }
bench() { QT_QPA_PLATFORM=offscreen "$root/build/bench/move_bench" "$@"; }
mkdir "$disk/to" "$shm/back"
truncate -s 2G "$shm/sparse.bin"
echo -n "sparse, /dev/shm → disk: "; bench "$shm/sparse.bin" "$disk/to"
dd if=/dev/zero of="$shm/dense.bin" bs=16M count=128 status=none
echo -n "dense, /dev/shm → disk:  "; bench "$shm/dense.bin" "$disk/to"
echo -n "dense, disk → /dev/shm:  "; bench "$disk/to/dense.bin" "$shm/back"
