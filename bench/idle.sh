#!/usr/bin/env bash
# The tray program at rest: share of one core it takes over a quiet minute (SECONDS_IDLE to change
# it) once it is up, on a private X server with a window manager, as a user leaves it all day.
# With no tray host there it shows its main window, as it does on a desktop without one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" != "--inside" ]; then
  exec "$root/tests/support/with-x" "$0" --inside
fi
brivlon="${BRIVLON:-$root/build/bin/brivlon}"
seconds="${SECONDS_IDLE:-60}"
work=$(mktemp -d)
chmod 700 "$work"
out="$work/out"
BRIVLON_TRACE=1 BRIVLON_FORCE_OFFLINE=1 XDG_RUNTIME_DIR="$work" \
  BRIVLON_UPDATES_URL=http://127.0.0.1:9/atualizacoes.json "$brivlon" >"$out" 2>/dev/null &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT
until grep -q '^pronto' "$out"; do
  kill -0 "$pid" 2>/dev/null || { echo "idle: the program ended before it was ready" >&2; exit 1; }
  sleep 0.1
done
# What start-up left to do (the first paint, the settings read) is not rest.
sleep 5
# Fields 14 and 15 of /proc/<pid>/stat: user and system time of the whole process, threads that
# ended meanwhile included, in clock ticks (the per-thread counters lose those).
ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
before=$(ticks)
sleep "$seconds"
after=$(ticks)
hz=$(getconf CLK_TCK)
python3 -c "used = ($after - $before) / $hz; print(f'at rest: {used * 1000:.0f} ms of CPU in $seconds s, {100 * used / $seconds:.3f} % of one core (one tick is {1000 / $hz:.0f} ms)')"
