#!/usr/bin/env bash
# What running a desktop job in a worker process costs: a worker's start up to its "ready" line,
# a small PNG → JPG job in a worker started ahead (as the program keeps them), and the same
# conversion in-process (the marginal cost of one more file in one --convert run).
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
vips black "$work/small.png" 64 64 --bands 3
python3 - "$(dirname "$0")/../build/brivlon" "$work" <<'EOF'
import os, shutil, socket, statistics, subprocess, sys, time

brivlon, work = sys.argv[1], sys.argv[2]
runs = 20

def start():
    ours, theirs = socket.socketpair()
    began = time.monotonic()
    child = subprocess.Popen([brivlon, "--worker"], stdin=theirs, stdout=theirs)
    theirs.close()
    channel = ours.makefile("rwb")
    assert channel.readline() == b"ready\n"
    return child, channel, time.monotonic() - began

def job(child, channel, source):
    began = time.monotonic()
    channel.write(f"op convert\nsource {source}\nkind image\next jpg\nlabel JPG\nbatch 0\ngo\n".encode())
    channel.flush()
    answer = channel.read().decode()
    child.wait()
    assert answer.startswith("done "), answer
    os.remove(answer[5:].strip())
    return time.monotonic() - began

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
print(f"same conversion in-process:      {ms(inprocess)}")
print(f"cost per job of the worker:      {(statistics.median(warm) - statistics.median(inprocess)) * 1000:6.1f} ms")
EOF
