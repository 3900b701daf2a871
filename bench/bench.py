#!/usr/bin/env python3
"""Times mornak beside other compressors and checks that its output never changes.

Every tool runs once to warm up, then --runs times; the table shows the median
wall time as MB/s (10^6 bytes per second of input), the compressed size as a
share of the input, the median wall time over that of `compress -c`, and the
largest peak resident memory of the runs. Every .bk mornak writes is checked
against the SHA-256 recorded in bench/expected.sha256; any difference fails the
bench. Run through bench/run, which builds the binaries first.
"""

import argparse
import datetime
import hashlib
import os
import platform
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CORPUS = ROOT.parent / "shared" / "corpus"
EXPECTED = ROOT / "bench" / "expected.sha256"

# name, kind, bytes, seed: made by make_input, the same on every machine.
GENERATED = [
    ("text-32MiB.txt", "text", 32 << 20, 1),
    ("records-16MiB.bin", "records", 16 << 20, 2),
    ("text-150KB.txt", "text", 150_000, 3),
]

# label, command (input path appended), or None for mornak itself.
TOOLS = [
    ("mornak", None),
    ("compress -c", ["compress", "-c"]),
    ("gzip -1", ["gzip", "-1", "-c"]),
    ("gzip -6", ["gzip", "-6", "-c"]),
    ("gzip -9", ["gzip", "-9", "-c"]),
    ("bzip2 -9", ["bzip2", "-9", "-c"]),
    ("xz -6", ["xz", "-6", "-c"]),
    ("zstd -1", ["zstd", "-1", "-c", "-q"]),
    ("zstd -3", ["zstd", "-3", "-c", "-q"]),
    ("zstd -19", ["zstd", "-19", "-c", "-q"]),
    ("lz4", ["lz4", "-c", "-q"]),
]

MIB = 1 << 20


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def run_once(measure, command, stdout_path):
    """Wall seconds, CPU seconds (user + system) and peak RSS in KiB of one run."""
    err_path = Path(str(stdout_path) + ".err")
    line = subprocess.run([str(measure), str(stdout_path), str(err_path)] + command,
                          capture_output=True, text=True, check=True).stdout.split()
    wall, cpu, peak, code = float(line[0]), float(line[1]), int(line[2]), int(line[3])
    if code != 0:
        sys.exit(f"bench: {' '.join(command)} failed with status {code}: {err_path.read_text()}")
    return wall, cpu, peak


def machine():
    cpu = "unknown CPU"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()
    return (f"{cpu}, {os.cpu_count()} cores, Linux {platform.release()}, "
            f"{compiler[0] if compiler else 'unknown compiler'}")


def load_expected():
    expected = {}
    if EXPECTED.exists():
        for line in EXPECTED.read_text().splitlines():
            if line.strip():
                digest, name = line.split(maxsplit=1)
                expected[name] = digest
    return expected


def prepare_inputs(build, wanted):
    data = build / "data"
    data.mkdir(parents=True, exist_ok=True)
    inputs = []
    for name, kind, size, seed in GENERATED:
        path = data / name
        if not path.exists() or path.stat().st_size != size:
            subprocess.run([str(build / "bench" / "make_input"), kind, str(size), str(seed), str(path)], check=True)
        inputs.append(path)
    if CORPUS.is_dir():
        inputs += sorted(p for p in CORPUS.iterdir() if p.is_file() and p.name != "README.md")
    else:
        print(f"note: {CORPUS} not found; only generated inputs are measured", file=sys.stderr)
    return [p for p in inputs if not wanted or p.name in wanted]


def measure(build, inputs, tools, runs, expected, record):
    work = build / "work"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    mornak = build / "mornak"
    results = []  # (input, size, label, out_bytes, median wall, median cpu, peak KiB)
    changed = []
    for path in inputs:
        size = path.stat().st_size
        copy = work / path.name  # mornak writes its .bk beside the input
        shutil.copyfile(path, copy)
        bk = copy.with_suffix(".bk") if copy.suffix else Path(str(copy) + ".bk")
        for label, command in tools:
            if command is None:
                full, out_path = [str(mornak), str(copy)], work / "console"
            else:
                full, out_path = command + [str(path)], work / "out"
            walls, cpus, peaks = [], [], []
            for i in range(runs + 1):
                wall, cpu, peak = run_once(build / "bench" / "measure", full, out_path)
                if command is None:
                    digest = sha256(bk)
                    if record:
                        expected[path.name] = digest
                    elif expected.get(path.name) not in (None, digest):
                        changed.append(path.name)
                        print(f"OUTPUT CHANGED: {path.name}.bk has SHA-256 {digest}, "
                              f"recorded {expected[path.name]}", file=sys.stderr)
                        break
                if i > 0:  # the first run only warms up
                    walls.append(wall), cpus.append(cpu), peaks.append(peak)
            if changed:
                return results, changed
            out_bytes = (bk if command is None else out_path).stat().st_size
            results.append((path.name, size, label, out_bytes, statistics.median(walls),
                            statistics.median(cpus), max(peaks)))
            print(f"  {path.name:20} {label:12} {statistics.median(walls):8.3f} s", file=sys.stderr)
        if not record and path.name not in expected:
            print(f"note: no recorded SHA-256 for {path.name}.bk (run with --record to add it)", file=sys.stderr)
    return results, changed


def table(results):
    compress = {(r[0]): r[4] for r in results if r[2] == "compress -c"}
    lines = ["| Input | Tool | MB/s | Size | Time ÷ compress | Peak MiB |",
             "|---|---|--:|--:|--:|--:|"]
    for name, size, label, out_bytes, wall, _, peak in results:
        ratio = f"{wall / compress[name]:.2f}" if name in compress else "n/a"
        tool = f"**{label}**" if label == "mornak" else label
        lines.append(f"| {name} | {tool} | {size / wall / 1e6:.1f} | {100 * out_bytes / size:.1f}% "
                     f"| {ratio} | {peak / 1024:.1f} |")
    return "\n".join(lines)


def targets(results):
    rows = {(r[0], r[2]): r for r in results}
    lines = []

    def ratio(name, field, limit, what):
        m, c = rows.get((name, "mornak")), rows.get((name, "compress -c"))
        if m and c:
            value = m[field] / c[field]
            lines.append(f"- {what} on {name}: {value:.2f} (target at most {limit}) "
                         f"{'met' if value <= limit else 'MISSED'}")

    ratio("text-32MiB.txt", 4, 1.0, "mornak wall time ÷ compress -c")
    ratio("records-16MiB.bin", 4, 1.25, "mornak wall time ÷ compress -c")
    ratio("text-150KB.txt", 5, 1.2, "mornak process time (user + system) ÷ compress -c")
    worst = None
    for name, size, label, out_bytes, _, _, peak in results:
        if label == "mornak":
            over = peak * 1024 - out_bytes
            if worst is None or over > worst[0]:
                worst = (over, name, peak, out_bytes)
    if worst:
        over, name, peak, out_bytes = worst
        lines.append(f"- mornak peak memory minus output size, largest over all inputs: {over / MIB:.1f} MiB "
                     f"({name}: {peak / 1024:.1f} MiB peak, {out_bytes / MIB:.1f} MiB out; target at most 8) "
                     f"{'met' if over <= 8 * MIB else 'MISSED'}")
    return "\n".join(lines)


def chart(results, svg):
    if not shutil.which("gnuplot"):
        print("note: gnuplot not installed; no chart drawn", file=sys.stderr)
        return
    panels = [("text-32MiB.txt", "32 MiB English-like text"), ("records-16MiB.bin", "16 MiB binary records")]
    data = svg.with_suffix(".dat")
    below = {"mornak", "zstd -19"}  # labels that would sit on a neighbour's
    with open(data, "w") as f:
        for name, _ in panels:
            for r in results:
                if r[0] == name:
                    f.write(f'"{r[2]}" {100 * r[3] / r[1]:.2f} {r[1] / r[4] / 1e6:.2f} {int(r[2] in below)}\n')
            f.write("\n\n")
    script = [
        f"set terminal svg size 1100,480 dynamic font 'sans,11' background '#ffffff'",
        f"set output '{svg}'",
        "set multiplot layout 1,2",
        "set logscale y", "set grid", "set key off", "set offsets graph 0.02, graph 0.12, graph 0.1, graph 0.1",
        "set xlabel 'compressed size (% of input, smaller is better)'",
        "set ylabel 'speed (MB/s of input, higher is better)'",
    ]
    for index, (_, title) in enumerate(panels):
        script += [f"set title '{title}'",
                   f"plot '{data}' index {index} using 2:3 with points pt 7 ps 0.8 lc rgb '#1f77b4', "
                   f"'' index {index} using 2:($4 == 0 ? $3 : 1/0):1 with labels offset 0.6,0.6 left font 'sans,9', "
                   f"'' index {index} using 2:($4 == 1 ? $3 : 1/0):1 with labels offset 0.6,-0.7 left font 'sans,9', "
                   f"'' index {index} using 2:(stringcolumn(1) eq 'mornak' ? $3 : 1/0) "
                   f"with points pt 7 ps 1.4 lc rgb '#d62728'"]
    subprocess.run(["gnuplot"], input="\n".join(script) + "\n", text=True, check=True)
    data.unlink()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, required=True, help="folder with mornak and bench/make_input")
    parser.add_argument("--runs", type=int, default=5, help="timed runs per tool after the warm-up (default 5)")
    parser.add_argument("--tools", help="comma-separated labels to run, e.g. 'mornak,compress -c'")
    parser.add_argument("--inputs", help="comma-separated input names to run")
    parser.add_argument("--record", action="store_true", help="record the SHA-256 of every .bk instead of checking")
    parser.add_argument("--results", type=Path, default=ROOT / "bench" / "results.md")
    args = parser.parse_args()

    build = args.build.resolve()
    wanted_tools = set(args.tools.split(",")) if args.tools else None
    tools = []
    for label, command in TOOLS:
        if wanted_tools and label not in wanted_tools:
            continue
        if command and not shutil.which(command[0]):
            print(f"note: {command[0]} not installed; {label} skipped", file=sys.stderr)
            continue
        tools.append((label, command))
    inputs = prepare_inputs(build, set(args.inputs.split(",")) if args.inputs else None)
    expected = load_expected()
    results, changed = measure(build, inputs, tools, args.runs, expected, args.record)
    if changed:
        sys.exit(f"bench: FAILED, mornak's output changed for {', '.join(changed)}")
    if args.record:
        EXPECTED.write_text("".join(f"{d}  {n}\n" for n, d in sorted(expected.items())))
        print(f"recorded {len(expected)} SHA-256 sums in {EXPECTED}", file=sys.stderr)

    report = "\n".join([
        f"Measured {datetime.date.today()} on {machine()}.",
        f"Median of {args.runs} runs after one warm-up; every .bk matched its recorded SHA-256.",
        "", table(results), "", targets(results), ""])
    print(report)
    if not wanted_tools and not args.inputs:  # only a full run replaces the published figures
        args.results.write_text("# Benchmark results\n\nMade by `bench/run`.\n" + report)
        chart(results, args.results.with_name("chart.svg"))
        print(f"wrote {args.results} and {args.results.with_name('chart.svg')}", file=sys.stderr)


if __name__ == "__main__":
    main()
