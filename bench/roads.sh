#!/usr/bin/env bash
# What each road costs a short job, whole process from start to exit, against the program doing
# the same work directly: a small PNG to JPEG against `vips copy`, a 120-page PDF's text against
# pdftotext, its rotation and split against qpdf. The runs alternate (ours, the peer, ours, …) so
# that a load that comes and goes weighs on both alike. BEFORE names another build's brivlon,
# which then takes its turn in every round, to compare two builds on the same files.
# Prints the median seconds and peak resident memory (the process and its children) of each, and
# the ratios to the peer.
# Figures, 21 rounds on 8 cores at load 2 (ratios to the peer): PNG to JPG 0.98, PDF text 0.94
# time and 1.54 memory, pdfRotate 1.84 (23 ms against 13), pdfSplit 1.51 (54 ms against 36). In
# the worker the rotation takes 9 ms; the rest is the two processes' start and end. Before the
# PDF tools checked what they wrote in memory and read their source in blocks, alternated with
# this build at load 21 to 25: pdfRotate 2.55 → 1.95, pdfSplit 1.71 → 1.43.
# Usage: bench/roads.sh [rounds]   (default 21)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
brivlon="${BRIVLON:-$root/build/bin/brivlon}"
[ -x "$brivlon" ] || "$root/scripts/build"
[ -n "${BRIVLON_PRIVATE_HOME:-}" ] || exec "$root/tests/support/private-home" bash "$0" "$@"
for tool in vips qpdf pdftotext python3; do
  command -v "$tool" >/dev/null || { echo "roads.sh: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/brivlon-bench-roads-XXXXXX")
trap 'rm -rf "$work"' EXIT
vips black "$work/small.png" 64 64 --bands 3
python3 - "$work" "$root/bench/lib" <<'PY'
import random, sys
sys.path.insert(0, sys.argv[2])
from pdf_writer import write, font
random.seed(1)
text = [(b"BT /F1 11 Tf 14 TL 72 740 Td " + b"".join(b"(Pagina %d, linha %d: %s) '\n" % (i, j, bytes(random.choice(b"abcdefghij klmnop") for _ in range(60))) for j in range(40)) + b"ET", font) for i in range(120)]
write(sys.argv[1] + "/texto.pdf", text)
PY
python3 - "$work" "${1:-21}" "$brivlon" "${BEFORE:-}" <<'PY'
import os, shutil, statistics, subprocess, sys, time
work, rounds, brivlon, before = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
ours = [("brivlon", brivlon)] + ([("before", before)] if before else [])
rows = [
    ("small PNG to JPG", "small.png", lambda b: [b, "--convert", "JPG", "small.png"], ["vips", "copy", "small.png", "out.jpg"], "vips copy"),
    ("120 pages to TXT", "texto.pdf", lambda b: [b, "--convert", "TXT", "texto.pdf"], ["pdftotext", "texto.pdf", "out.txt"], "pdftotext"),
    ("pdfRotate 120 pages", "texto.pdf", lambda b: [b, "--tool", "pdfRotate", "--", "texto.pdf"], ["qpdf", "--rotate=+90", "texto.pdf", "out.pdf"], "qpdf"),
    ("pdfSplit 120 pages", "texto.pdf", lambda b: [b, "--tool", "pdfSplit", "--", "texto.pdf"], ["qpdf", "--split-pages", "texto.pdf", "out.pdf"], "qpdf"),
]
run = os.path.join(work, "run")
def once(command, source):
    shutil.rmtree(run, ignore_errors=True)
    os.mkdir(run)
    os.link(os.path.join(work, source), os.path.join(run, source))
    began = time.monotonic()
    child = subprocess.Popen(command, cwd=run, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.monotonic() - began
    assert status == 0, command
    return elapsed, usage.ru_maxrss / 1024
print(f"medians of {rounds} alternated rounds; load average {os.getloadavg()[0]:.1f} at the start")
print(f"{'job':<22}{'who':<10}{'s':>8}{'MiB':>8}{'time ratio':>12}{'memory ratio':>14}")
for title, source, ourCommand, peerCommand, peerName in rows:
    samples = {name: [] for name, _ in ours}
    samples[peerName] = []
    for _ in range(rounds):
        for name, program in ours:
            samples[name].append(once(ourCommand(program), source))
        samples[peerName].append(once(peerCommand, source))
    median = {name: (statistics.median(s for s, _ in values), statistics.median(m for _, m in values))
              for name, values in samples.items()}
    peer = median[peerName]
    for name in [n for n, _ in ours] + [peerName]:
        seconds, mib = median[name]
        print(f"{title:<22}{name:<10}{seconds:>8.3f}{mib:>8.1f}{seconds / peer[0]:>12.2f}{mib / peer[1]:>14.2f}")
print(f"load average {os.getloadavg()[0]:.1f} at the end")
PY
