#!/usr/bin/env python3
"""Restoring and checking on threads: unmornak on every core (-T0) beside one
thread (-T1), on 64 MiB of text and of binaries from this machine (many
dictionaries each) and on generated text of a single dictionary; then the
restart points in process: the index beside restoring the whole file, reads of
4 KiB at random offsets, and what more cores could gain (segment_speed).

The two commands take turns (A B A B ...) and each pair gives one ratio, so a
drift of the machine's speed hits both alike; the table has the medians.
Restored files are compared with the input. Builds with the bench preset, as
bench/run does; writes bench/threads_results.md.

    bench/threads.py [--runs N]
"""

import argparse
import filecmp
import os
import statistics
import subprocess
import sys
from pathlib import Path

from inputs import concatenated
from timing import run_once

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "bench"
SIZE = 64 << 20


def inputs(data):
    """[(name, path)] of the inputs, made in `data` when missing."""
    made = []
    sources = {
        "headers-64MiB.txt": lambda: concatenated(sorted(Path("/usr/include").rglob("*.h")), SIZE),
        "binaries-64MiB.bin": lambda: concatenated(
            sorted(p for folder in ("/usr/bin", "/usr/lib/x86_64-linux-gnu") for p in Path(folder).glob("*")
                   if p.is_file() and not p.is_symlink() and p.stat().st_size > 100_000), SIZE),
    }
    for name, make in sources.items():
        path = data / name
        if not path.exists():
            content = make()
            if content is None:
                print(f"note: not enough files on this machine for {name}; skipped", file=sys.stderr)
                continue
            path.write_bytes(content)
        made.append((name, path))
    one = data / "text-32MiB.txt"  # generated text: one dictionary from start to end
    if not one.exists() or one.stat().st_size != 32 << 20:
        subprocess.run([str(BUILD / "bench" / "make_input"), "text", str(32 << 20), "1", str(one)], check=True)
    made.append((one.name, one))
    return made


def pairs(a, b, runs, out):
    """Median wall seconds of A and of B, and the median of A/B pair by pair."""
    measure = BUILD / "bench" / "measure"
    run_once(measure, a, out)
    run_once(measure, b, out)
    walls_a, walls_b, ratios = [], [], []
    for _ in range(runs):
        wa = run_once(measure, a, out)[0]
        wb = run_once(measure, b, out)[0]
        walls_a.append(wa)
        walls_b.append(wb)
        ratios.append(wa / wb)
    return statistics.median(walls_a), statistics.median(walls_b), statistics.median(ratios)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=11)
    args = parser.parse_args()
    subprocess.run(["cmake", "--preset", "bench"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "bench"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    data = BUILD / "data"
    data.mkdir(parents=True, exist_ok=True)
    mornak, unmornak = str(BUILD / "mornak"), str(BUILD / "unmornak")
    cores = len(os.sched_getaffinity(0))
    rows, points = [], []
    for name, path in inputs(data):
        bk = path.with_suffix(".bk")
        subprocess.run([mornak, str(path)], check=True, stdout=subprocess.DEVNULL)
        listed = subprocess.run([unmornak, "-l", str(bk)], check=True, capture_output=True, text=True).stdout
        dictionaries = listed.splitlines()[1].split()[3]
        out_a, out_b, scratch = data / "restored-a", data / "restored-b", data / "stdout"
        for way, a, b in (
            ("restore", [unmornak, "-T0", str(bk), str(out_a)], [unmornak, "-T1", str(bk), str(out_b)]),
            ("--test", [unmornak, "-T0", "-t", str(bk)], [unmornak, "-T1", "-t", str(bk)]),
        ):
            wall_a, wall_b, ratio = pairs(a, b, args.runs, scratch)
            if way == "restore" and not (filecmp.cmp(out_a, path, shallow=False) and
                                         filecmp.cmp(out_b, path, shallow=False)):
                sys.exit(f"bench: {bk.name} restored to other bytes")
            rows.append(f"| {name} | {dictionaries} | {way} | {wall_b:.3f} | {wall_a:.3f} | {ratio:.2f} |")
        speed = dict(line.split(" ", 1) for line in
                     subprocess.run([str(BUILD / "bench" / "segment_speed"), str(bk)], check=True,
                                    capture_output=True, text=True).stdout.splitlines())
        reads = speed["read_at_4k_ms"].split()
        ideal = " / ".join(speed[f"ideal_speedup_{t}"] for t in (2, 4, 8, 16))
        points.append(f"| {name} | {bk.stat().st_size / 1e6:.1f} | {speed['index_share']} | {reads[0]} | {reads[2]} "
                      f"| {ideal} |")
        for scratch_file in (out_a, out_b):
            scratch_file.unlink(missing_ok=True)
    report = "\n".join([
        f"Measured by `bench/threads.py --runs {args.runs}` on {cores} cores; wall seconds are medians, "
        "the ratio the median of -T0 / -T1 pair by pair.",
        "",
        "| Input | dictionaries | unmornak | -T1 wall s | -T0 wall s | -T0 / -T1 |",
        "|---|--:|---|--:|--:|--:|",
        *rows,
        "",
        "| Input | .bk MB | index ÷ restoring | read_at 4 KiB median ms | max ms | ideal speed-up on 2 / 4 / 8 / 16 threads |",
        "|---|--:|--:|--:|--:|---|",
        *points,
    ])
    print(report)
    (ROOT / "bench" / "threads_results.md").write_text("# Threads and restart points\n\n" + report + "\n")


if __name__ == "__main__":
    main()
