#!/usr/bin/env python3
"""Times mornak beside other compressors, converting and restoring.

Every tool runs once to warm up, then --runs times, the tools taking turns run
by run (A B C A B C ...) so that a drift of the machine's speed hits them
alike. Each tool writes its output to a file. The table shows the median wall
time as MB/s (10^6 bytes per second of input) with the spread of the wall
times (min-max), the compressed size as a share of the input, the median wall
time over that of `compress -c`, and the largest peak resident memory of the
runs; per input, the CLEAR_CODEs in mornak's stream and the share of input
bytes it encoded with a full dictionary. Every file a tool restores is
compared with its input; any difference fails the bench. Run through
bench/run, which builds the binaries first.
"""

import argparse
import datetime
import filecmp
import os
import platform
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CORPUS = ROOT.parent / "shared" / "corpus"

# name, kind, bytes, seed: made by make_input, the same on every machine.
GENERATED = [
    ("text-32MiB.txt", "text", 32 << 20, 1),
    ("records-16MiB.bin", "records", 16 << 20, 2),
    ("text-150KB.txt", "text", 150_000, 3),
]

# Real files from this machine, which restart the dictionary as generated text
# never does: name, kind, how to make it. Missing sources are skipped.
def concatenated(paths, limit, reader=lambda p: p.read_bytes()):
    out = bytearray()
    for path in paths:
        if len(out) >= limit:
            break
        try:
            out += reader(path)
        except OSError:
            pass
    return bytes(out[:limit]) if len(out) >= limit else None


def machine_files():
    import gzip
    include, man = Path("/usr/include"), Path("/usr/share/man/man1")
    return [
        ("headers-20MB.txt", "text",
         lambda: concatenated(sorted(include.rglob("*.h")), 20_000_000)),
        ("man-10MB.txt", "text",
         lambda: concatenated(sorted(man.glob("*.gz")), 10_000_000, lambda p: gzip.decompress(p.read_bytes()))),
        ("cmake.exe", "binary", lambda: Path("/usr/bin/cmake").read_bytes()),
        ("gdb.exe", "binary", lambda: Path("/usr/bin/gdb").read_bytes()),
        ("libstdc++.so", "binary", lambda: Path("/usr/lib/x86_64-linux-gnu/libstdc++.so.6").read_bytes()),
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

# Restoring: label, how the file to restore is made (None: mornak's .bk), the
# command that restores it (compressed file appended; the restored bytes go
# to a file as standard output), or None for unmornak itself.
RESTORE_TOOLS = [
    ("unmornak", None, None),
    ("compress -d", ["compress", "-c"], ["compress", "-dc"]),
    ("gzip -d", ["gzip", "-6", "-c"], ["gzip", "-dc"]),
    ("bzip2 -d", ["bzip2", "-9", "-c"], ["bzip2", "-dc"]),
    ("xz -d", ["xz", "-6", "-c"], ["xz", "-dc"]),
    ("zstd -d", ["zstd", "-3", "-c", "-q"], ["zstd", "-dc", "-q"]),
    ("lz4 -d", ["lz4", "-c", "-q"], ["lz4", "-dc", "-q"]),
]

MIB = 1 << 20


def run_once(measure, command, stdout_path, prefix=()):
    """Wall seconds, CPU seconds (user + system) and peak RSS in KiB of one run.
    A prefix (taskset) runs the timer under it, so that its own start-up is
    outside the timed interval; the command inherits the pinning."""
    err_path = Path(str(stdout_path) + ".err")
    line = subprocess.run(list(prefix) + [str(measure), str(stdout_path), str(err_path)] + command,
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


def prepare_inputs(build, wanted):
    """[(path, kind)] of every input to measure."""
    data = build / "data"
    data.mkdir(parents=True, exist_ok=True)
    inputs = []
    for name, kind, size, seed in GENERATED:
        path = data / name
        if wanted and name not in wanted:
            continue
        if not path.exists() or path.stat().st_size != size:
            subprocess.run([str(build / "bench" / "make_input"), kind, str(size), str(seed), str(path)], check=True)
        inputs.append((path, "text" if kind == "text" else "binary"))
    for name, kind, make in machine_files():
        path = data / name
        if wanted and name not in wanted:
            continue
        if not path.exists():
            content = make()
            if content is None:
                print(f"note: not enough source files on this machine for {name}; skipped", file=sys.stderr)
                continue
            path.write_bytes(content)
        inputs.append((path, kind))
    if CORPUS.is_dir():
        for p in sorted(CORPUS.iterdir()):
            if p.is_file() and p.name != "README.md" and (not wanted or p.name in wanted):
                inputs.append((p, "binary" if p.suffix in (".jpeg", ".pdf", ".protodata") else "text"))
    else:
        print(f"note: {CORPUS} not found; only generated and machine inputs are measured", file=sys.stderr)
    return inputs


def stream_stats(build, source, bk):
    """(CLEAR_CODEs, share of input bytes encoded with a full dictionary, share
    of the encoder's lookups that went past their first slot), from a round
    trip and the lookups replayed through the encoder's table."""
    out = subprocess.run([str(build / "bench" / "scale_check"), str(source), str(bk)],
                         capture_output=True, text=True)
    if out.returncode != 0:
        sys.exit(f"bench: round trip of {bk.name} failed: {out.stdout}{out.stderr}")
    clears = int(out.stdout.split(" CLEAR_CODEs")[0].split()[-1])
    full = float(out.stdout.split("full dictionary: ")[1].split("%")[0])
    further = float(out.stdout.split("past the first slot: ")[1].split("%")[0])
    return clears, full, further


def measure(build, inputs, tools, runs, pin):
    work = build / "work"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    mornak = build / "mornak"
    prefix = ["taskset", "-c", pin] if pin else []
    results = []  # dicts: input, kind, size, tool, out, wall, lo, hi, cpu, peak, clears, full
    for path, kind in inputs:
        size = path.stat().st_size
        copy = work / path.name  # mornak writes its .bk beside the input
        shutil.copyfile(path, copy)
        bk = copy.with_suffix(".bk") if copy.suffix else Path(str(copy) + ".bk")
        samples = {label: ([], [], []) for label, _ in tools}
        for i in range(runs + 1):  # the first round only warms up
            for index, (label, command) in enumerate(tools):
                if command is None:
                    full, out_path = [str(mornak), str(copy)], work / "console"
                else:
                    full, out_path = command + [str(path)], work / f"out{index}"
                wall, cpu, peak = run_once(build / "bench" / "measure", full, out_path, prefix)
                if i > 0:
                    for series, value in zip(samples[label], (wall, cpu, peak)):
                        series.append(value)
        clears, full_share, further = stream_stats(build, path, bk) if any(c is None for _, c in tools) \
            else (None, None, None)
        for index, (label, command) in enumerate(tools):
            walls, cpus, peaks = samples[label]
            out_bytes = (bk if command is None else work / f"out{index}").stat().st_size
            results.append(dict(input=path.name, kind=kind, size=size, tool=label, out=out_bytes,
                                wall=statistics.median(walls), lo=min(walls), hi=max(walls),
                                cpu=statistics.median(cpus), peak=max(peaks), clears=clears, full=full_share,
                                further=further))
            print(f"  {path.name:20} {label:12} {statistics.median(walls):8.3f} s", file=sys.stderr)
    return results


def measure_restore(build, inputs, tools, runs, pin):
    """Times restoring each input, file to file, tools taking turns run by run;
    every restored file is compared with the input once."""
    work = build / "restore"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    prefix = ["taskset", "-c", pin] if pin else []
    measure_tool = build / "bench" / "measure"
    results = []
    for path, kind in inputs:
        size = path.stat().st_size
        packed = {}
        for index, (label, make, _) in enumerate(tools):
            packed[label] = work / f"in{index}.bk"
            if make is None:
                copy = work / "source"
                shutil.copyfile(path, copy)
                subprocess.run([str(build / "mornak"), str(copy)], stdout=subprocess.DEVNULL, check=True)
                (work / "source.bk").replace(packed[label])
            else:
                with open(packed[label], "wb") as out:
                    subprocess.run(make + [str(path)], stdout=out, check=True)
        samples = {label: ([], []) for label, _, _ in tools}
        for i in range(runs + 1):  # the first round only warms up
            for label, _, command in tools:
                restored = work / "restored"
                if command is None:
                    full, out_path = [str(build / "unmornak"), str(packed[label]), str(restored)], work / "console"
                else:
                    full, out_path = command + [str(packed[label])], restored
                wall, _, peak = run_once(measure_tool, full, out_path, prefix)
                if i == 0 and not filecmp.cmp(restored, path, shallow=False):
                    sys.exit(f"bench: {label} did not restore {path.name}")
                if i > 0:
                    samples[label][0].append(wall), samples[label][1].append(peak)
        for label, _, _ in tools:
            walls, peaks = samples[label]
            results.append(dict(input=path.name, kind=kind, size=size, tool=label, out=packed[label].stat().st_size,
                                wall=statistics.median(walls), lo=min(walls), hi=max(walls), peak=max(peaks)))
            print(f"  {path.name:20} {label:12} {statistics.median(walls):8.3f} s", file=sys.stderr)
    return results


def common_cells(r, baseline, mine):
    """The cells both tables share: the tool (in bold for ours), MB/s, the
    wall time with its spread, the ratio to the baseline, the peak in MiB."""
    ratio = f"{r['wall'] / baseline[r['input']]:.2f}" if r["input"] in baseline else "n/a"
    tool = f"**{r['tool']}**" if r["tool"] == mine else r["tool"]
    return (tool, f"{r['size'] / r['wall'] / 1e6:.1f}", f"{r['wall']:.3f} ({r['lo']:.3f}–{r['hi']:.3f})", ratio,
            f"{r['peak'] / 1024:.1f}")


LIBRARY_WAYS = ["convert_one_shot", "convert_streaming", "restore_one_shot", "restore_streaming"]


def measure_library(build, inputs, runs, pin):
    """MB/s of the library in process (bench/library_speed), one-shot and in
    64 KiB chunks, both ways: {input name: {way: (median, min, max)}}."""
    prefix = ["taskset", "-c", pin] if pin else []
    results = {}
    for path, _ in inputs:
        out = subprocess.run(prefix + [str(build / "bench" / "library_speed"), str(path), str(runs)],
                             capture_output=True, text=True, check=True).stdout
        results[path.name] = {way: tuple(float(x) for x in rest) for way, *rest in (line.split() for line in
                                                                                    out.splitlines())}
        print(f"  {path.name:20} library {out.split()[1]} MB/s converting", file=sys.stderr)
    return results


def pointer_chase(build, pin):
    """ns per load of a pointer chase through 640 KiB (the encoder's hot
    tables) in huge pages: one dependent load from the second-level cache."""
    prefix = ["taskset", "-c", pin] if pin else []
    out = subprocess.run(prefix + [str(build / "bench" / "pointer_chase"), "640", "7"], capture_output=True,
                         text=True, check=True).stdout.split()
    return float(out[1])


def library_table(results, floor):
    lines = ["| Input | converting, one-shot | in 64 KiB chunks | chunks ÷ one-shot | ns/byte in chunks | ÷ floor "
             "| restoring, one-shot | in 64 KiB chunks | chunks ÷ one-shot |", "|---|--:|--:|--:|--:|--:|--:|--:|--:|"]
    for name, ways in results.items():
        cells = []
        for one, chunks in (("convert_one_shot", "convert_streaming"), ("restore_one_shot", "restore_streaming")):
            cells += [f"{ways[one][0]:.1f}", f"{ways[chunks][0]:.1f}", f"{ways[chunks][0] / ways[one][0]:.2f}"]
            if one == "convert_one_shot":
                ns = 1000 / ways[chunks][0]
                cells += [f"{ns:.2f}", f"{ns / floor:.2f}"]
        lines.append(f"| {name} | " + " | ".join(cells) + " |")
    lines.append(f"| pointer chase, 640 KiB | | | | {floor:.2f} | 1.00 | | | |")
    return "\n".join(lines)


def restore_table(results):
    compress = {r["input"]: r["wall"] for r in results if r["tool"] == "compress -d"}
    lines = ["| Input | Tool | MB/s restored | wall s, median (min–max) | ÷ compress -d | Peak MiB |",
             "|---|---|--:|--:|--:|--:|"]
    for r in results:
        tool, speed, wall, ratio, peak = common_cells(r, compress, "unmornak")
        lines.append(f"| {r['input']} | {tool} | {speed} | {wall} | {ratio} | {peak} |")
    return "\n".join(lines)


def table(results):
    compress = {r["input"]: r["wall"] for r in results if r["tool"] == "compress -c"}
    gzip1 = {r["input"]: r["wall"] for r in results if r["tool"] == "gzip -1"}
    lines = ["| Input | CLEAR_CODEs | full dict. | past 1st slot | Tool | MB/s | wall s, median (min–max) | Size "
             "| ÷ compress | ÷ gzip -1 | Peak MiB |",
             "|---|--:|--:|--:|---|--:|--:|--:|--:|--:|--:|"]
    for r in results:
        tool, speed, wall, ratio, peak = common_cells(r, compress, "mornak")
        mine = r["tool"] == "mornak"
        clears = str(r["clears"]) if mine and r["clears"] is not None else ""
        full = f"{r['full']:.0f}%" if mine and r["full"] is not None else ""
        further = f"{r['further']:.1f}%" if mine and r.get("further") is not None else ""
        to_gzip = f"{r['wall'] / gzip1[r['input']]:.2f}" if r["input"] in gzip1 else "n/a"
        lines.append(f"| {r['input']} | {clears} | {full} | {further} | {tool} | {speed} | {wall} "
                     f"| {100 * r['out'] / r['size']:.1f}% | {ratio} | {to_gzip} | {peak} |")
    return "\n".join(lines)


def judge(results, mine, baseline, limit_of, peak_mib, label=""):
    """A line per input: `mine`'s median wall time over `baseline`'s against
    limit_of(result), then the largest peak memory against `peak_mib`."""
    base = {r["input"]: r for r in results if r["tool"] == baseline}
    lines = []
    for r in results:
        b = base.get(r["input"])
        if r["tool"] != mine or b is None:
            continue
        limit = limit_of(r)
        value = r["wall"] / b["wall"]
        lines.append(f"- {label}{r['input']} ({r['kind']}): {mine} wall ÷ {baseline} {value:.2f}, "
                     f"target at most {limit}: {'met' if value <= limit else 'MISSED'}")
    worst = max((r for r in results if r["tool"] == mine), key=lambda r: r["peak"], default=None)
    if worst:
        lines.append(f"- {label}{mine} peak memory, largest over all inputs: {worst['peak'] / 1024:.1f} MiB "
                     f"({worst['input']}), target at most {peak_mib}: "
                     f"{'met' if worst['peak'] <= peak_mib * 1024 else 'MISSED'}")
    return "\n".join(lines)


# Inputs on which mornak must be at least as fast as gzip -1.
GZIP1_INPUTS = ("headers-20MB.txt", "man-10MB.txt")


def targets(results, label=""):
    """Converting: real text at most 0.75 of compress -c, binaries at most
    0.82; at least as fast as gzip -1 on the headers and the man pages; peak
    memory at most 8 MiB."""
    lines = judge(results, "mornak", "compress -c", lambda r: 0.82 if r["kind"] == "binary" else 0.75, 8, label)
    versus_gzip = judge([r for r in results if r["input"] in GZIP1_INPUTS], "mornak", "gzip -1", lambda r: 1.0, 8,
                        label)
    return lines + "\n" + "\n".join(versus_gzip.splitlines()[:-1])


def restore_targets(results, label=""):
    """Restoring: at most 0.5 of compress -d; peak memory at most 64 MiB."""
    return judge(results, "unmornak", "compress -d", lambda r: 0.5, 64, label)


def chart(results, svg, panels, mine, ylabel):
    """Speed against compressed size, a panel per input present in `results`."""
    if not shutil.which("gnuplot"):
        print("note: gnuplot not installed; no chart drawn", file=sys.stderr)
        return
    present = {r["input"] for r in results}
    panels = [p for p in panels if p[0] in present]
    data = svg.with_suffix(".dat")
    below = {"mornak", "zstd -19", "unmornak"}  # labels that would sit on a neighbour's
    with open(data, "w") as f:
        for name, _ in panels:
            for r in results:
                if r["input"] == name:
                    f.write(f'"{r["tool"]}" {100 * r["out"] / r["size"]:.2f} {r["size"] / r["wall"] / 1e6:.2f} '
                            f'{int(r["tool"] in below)}\n')
            f.write("\n\n")
    script = [
        f"set terminal svg size {550 * len(panels)},480 dynamic font 'sans,11' background '#ffffff'",
        f"set output '{svg}'",
        f"set multiplot layout 1,{len(panels)}",
        "set logscale y", "set grid", "set key off", "set offsets graph 0.02, graph 0.12, graph 0.1, graph 0.1",
        "set xlabel 'compressed size (% of input, smaller is better)'",
        f"set ylabel '{ylabel}'",
    ]
    for index, (_, title) in enumerate(panels):
        script += [f"set title '{title}'",
                   f"plot '{data}' index {index} using 2:3 with points pt 7 ps 0.8 lc rgb '#1f77b4', "
                   f"'' index {index} using 2:($4 == 0 ? $3 : 1/0):1 with labels offset 0.6,0.6 left font 'sans,9', "
                   f"'' index {index} using 2:($4 == 1 ? $3 : 1/0):1 with labels offset 0.6,-0.7 left font 'sans,9', "
                   f"'' index {index} using 2:(stringcolumn(1) eq '{mine}' ? $3 : 1/0) "
                   f"with points pt 7 ps 1.4 lc rgb '#d62728'"]
    subprocess.run(["gnuplot"], input="\n".join(script) + "\n", text=True, check=True)
    data.unlink()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, required=True, help="folder with mornak and bench/make_input")
    parser.add_argument("--runs", type=int, default=5, help="timed runs per tool after the warm-up (default 5)")
    parser.add_argument("--tools", help="comma-separated labels to run, e.g. 'mornak,compress -c'")
    parser.add_argument("--inputs", help="comma-separated input names to run")
    parser.add_argument("--pin", help="run every command on this CPU only (taskset -c)")
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
    restore_tools = []
    for label, make, command in RESTORE_TOOLS:
        if wanted_tools and label not in wanted_tools:
            continue
        if command and not shutil.which(command[0]):
            print(f"note: {command[0]} not installed; {label} skipped", file=sys.stderr)
            continue
        restore_tools.append((label, make, command))
    inputs = prepare_inputs(build, set(args.inputs.split(",")) if args.inputs else None)
    results = measure(build, inputs, tools, args.runs, args.pin) if tools else []
    full_run = not wanted_tools and not args.inputs and not args.pin
    pinned = []
    if full_run:  # mornak beside compress again, both on one core
        pair = [t for t in tools if t[0] in ("mornak", "compress -c")]
        pinned = measure(build, inputs, pair, args.runs, "0")
    restored = measure_restore(build, inputs, restore_tools, args.runs, args.pin) if restore_tools else []
    library = measure_library(build, inputs, args.runs, args.pin) if not wanted_tools or "library" in wanted_tools \
        else {}
    pinned_restore = []
    if full_run and restored:
        pair = [t for t in restore_tools if t[0] in ("unmornak", "compress -d")]
        pinned_restore = measure_restore(build, inputs, pair, args.runs, "0")

    pin_note = f" All commands ran on CPU {args.pin} only (taskset)." if args.pin else ""
    report = [f"Measured {datetime.date.today()} on {machine()}.",
              f"Median of {args.runs} runs after one warm-up, tools taking turns run by run.{pin_note}", ""]
    if results:
        report += [table(results), "", targets(results), ""]
    if pinned:
        report += ["## mornak and compress -c on one core (taskset -c 0)", "", table(pinned), "",
                   targets(pinned, "one core: "), ""]
    if library:
        floor = pointer_chase(build, args.pin)
        report += ["## The library in process (MB/s of the original, median)", "",
                   "`bench/library_speed`: no process start, no file I/O; one-shot calls make their context each "
                   "time, chunked calls reuse one. The floor is one dependent load per byte from the "
                   "second-level cache (`bench/pointer_chase 640`).", "", library_table(library, floor), ""]
    if restored:
        report += ["## Restoring, file to file", "", restore_table(restored), "", restore_targets(restored), ""]
    if pinned_restore:
        report += ["## unmornak and compress -d on one core (taskset -c 0)", "", restore_table(pinned_restore), "",
                   restore_targets(pinned_restore, "one core: "), ""]
    report = "\n".join(report)
    print(report)
    if full_run:  # only a full run replaces the published figures
        args.results.write_text("# Benchmark results\n\nMade by `bench/run`.\n" + report)
        chart(results, args.results.with_name("chart.svg"),
              [("text-32MiB.txt", "32 MiB English-like text"), ("headers-20MB.txt", "20 MB of C headers"),
               ("gdb.exe", "10 MB executable")], "mornak", "speed (MB/s of input, higher is better)")
        chart(restored, args.results.with_name("restore.svg"),
              [("headers-20MB.txt", "restoring 20 MB of C headers"), ("gdb.exe", "restoring a 10 MB executable")],
              "unmornak", "speed (MB/s restored, higher is better)")
        print(f"wrote {args.results}, chart.svg and restore.svg beside it", file=sys.stderr)


if __name__ == "__main__":
    main()
