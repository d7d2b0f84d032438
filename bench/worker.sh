#!/usr/bin/env bash
# What running a job in a worker process costs: a worker's start up to its "ready" frame,
# a small PNG → JPG job in a worker started ahead (as the desktop keeps them: every engine module
# opened while it waits), and one more file of a --convert run, whose files all go to one worker.
# WORKER names another build's worker program, to compare two builds.
set -euo pipefail
[ -n "${BRIVLON_PRIVATE_HOME:-}" ] || exec "$(dirname "$0")/../tests/support/private-home" bash "$0" "$@"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
vips black "$work/small.png" 64 64 --bands 3
python3 - "$(dirname "$0")/../build/bin/brivlon" "${WORKER:-$(dirname "$0")/../build/libexec/brivlon/brivlon-worker}" "$work" <<'EOF'
import os, shutil, socket, statistics, struct, subprocess, sys, time

brivlon, worker, work = sys.argv[1], sys.argv[2], sys.argv[3]
runs = 20

# The frames of core/jobs/worker.h: a 32-bit big-endian length, then QDataStream fields (a byte
# array is its 32-bit length and its bytes, a bool one byte, a double eight bytes big-endian).
def blob(data):
    return struct.pack(">I", len(data)) + data

def request(source):
    fields = [blob(b"convert"), struct.pack(">I", 1), blob(source.encode()), blob(b"image"), blob(b"jpg"),
              blob(b"JPG"), b"\0", blob(b"convert"), blob(b""), b"\0", blob(b""), b"\0"]
    payload = b"".join(fields)
    return struct.pack(">I", len(payload)) + payload

def answer(channel):
    payload = channel.read(struct.unpack(">I", channel.read(4))[0])
    fields, at = [], 0
    for kind in "bdbb":
        if kind == "d":
            fields.append(struct.unpack(">d", payload[at:at + 8])[0])
            at += 8
        else:
            size = struct.unpack(">I", payload[at:at + 4])[0]
            size = 0 if size == 0xFFFFFFFF else size
            fields.append(payload[at + 4:at + 4 + size])
            at += 4 + size
    return fields

def start():
    ours, theirs = socket.socketpair()
    began = time.monotonic()
    child = subprocess.Popen([worker, "--worker", "images", "documents", "faces", "pdf-text"], stdin=theirs, stdout=theirs)
    theirs.close()
    channel = ours.makefile("rwb")
    assert answer(channel)[0] == b"ready"
    return child, channel, time.monotonic() - began

def job(child, channel, source):
    began = time.monotonic()
    channel.write(request(source))
    channel.flush()
    while (reply := answer(channel))[0] == b"progress":
        pass
    elapsed = time.monotonic() - began
    channel.close()
    child.wait()
    assert reply[0] == b"done", reply
    os.remove(reply[2].decode())
    return elapsed

def ms(values):
    return f"{statistics.median(values) * 1000:6.1f} ms (median of {len(values)})"

cold, warm = [], []
for _ in range(runs):
    child, channel, ready = start()
    cold.append(ready)
    time.sleep(0.3)  # kept ready, as the program does between jobs
    warm.append(job(child, channel, f"{work}/small.png"))

def convert(count):
    folder = f"{work}/many"
    shutil.rmtree(folder, ignore_errors=True)
    os.mkdir(folder)
    names = [f"{folder}/{i}.png" for i in range(count)]
    for name in names:
        shutil.copy(f"{work}/small.png", name)
    began = time.monotonic()
    subprocess.run([brivlon, "--convert", "jpg", *names], check=True, stdout=subprocess.DEVNULL)
    return time.monotonic() - began

inprocess = [(convert(41) - convert(1)) / 40 for _ in range(5)]
print(f"worker start up to ready:        {ms(cold)}")
print(f"job in a worker started ahead:   {ms(warm)}")
print(f"one more file of a --convert run: {ms(inprocess)}")
print(f"cost of a fresh worker's job:     {(statistics.median(warm) - statistics.median(inprocess)) * 1000:6.1f} ms")
EOF
