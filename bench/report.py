"""The bench's report: the machine it ran on, the tables, each target met or
missed, and the charts of speed against compressed size. A full run writes it
to bench/results.md (or --results), the charts beside it."""

import datetime
import os
import platform
import shutil
import subprocess
import sys


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


def common_cells(r, baseline, mine):
    """The cells both tables share: the tool (in bold for ours), MB/s, the
    wall time with its spread, the ratio to the baseline, the peak in MiB."""
    ratio = f"{r['wall'] / baseline[r['input']]:.2f}" if r["input"] in baseline else "n/a"
    tool = f"**{r['tool']}**" if r["tool"] == mine else r["tool"]
    return (tool, f"{r['size'] / r['wall'] / 1e6:.1f}", f"{r['wall']:.3f} ({r['lo']:.3f}–{r['hi']:.3f})", ratio,
            f"{r['peak'] / 1024:.1f}")


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


def restore_table(results):
    compress = {r["input"]: r["wall"] for r in results if r["tool"] == "compress -d"}
    lines = ["| Input | Tool | MB/s restored | wall s, median (min–max) | ÷ compress -d | Peak MiB |",
             "|---|---|--:|--:|--:|--:|"]
    for r in results:
        tool, speed, wall, ratio, peak = common_cells(r, compress, "unmornak")
        lines.append(f"| {r['input']} | {tool} | {speed} | {wall} | {ratio} | {peak} |")
    return "\n".join(lines)


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


def summary(runs, pin, converted, pinned, library, floor, restored, pinned_restore):
    """The report in Markdown: a section for each set of results that is not
    empty, in the order the bench measures them."""
    pin_note = f" All commands ran on CPU {pin} only (taskset)." if pin else ""
    report = [f"Measured {datetime.date.today()} on {machine()}.",
              f"Median of {runs} runs after one warm-up, tools taking turns run by run.{pin_note}", ""]
    if converted:
        report += [table(converted), "", targets(converted), ""]
    if pinned:
        report += ["## mornak and compress -c on one core (taskset -c 0)", "", table(pinned), "",
                   targets(pinned, "one core: "), ""]
    if library:
        report += ["## The library in process (MB/s of the original, median)", "",
                   "`bench/library_speed`: no process start, no file I/O; one-shot calls make their context each "
                   "time, chunked calls reuse one. The floor is one dependent load per byte from the "
                   "second-level cache (`bench/pointer_chase 640`).", "", library_table(library, floor), ""]
    if restored:
        report += ["## Restoring, file to file", "", restore_table(restored), "", restore_targets(restored), ""]
    if pinned_restore:
        report += ["## unmornak and compress -d on one core (taskset -c 0)", "", restore_table(pinned_restore), "",
                   restore_targets(pinned_restore, "one core: "), ""]
    return "\n".join(report)


def publish(path, report, converted, restored):
    """Replaces the published figures: the report at `path`, chart.svg and
    restore.svg beside it."""
    path.write_text("# Benchmark results\n\nMade by `bench/run`.\n" + report)
    chart(converted, path.with_name("chart.svg"),
          [("text-32MiB.txt", "32 MiB English-like text"), ("headers-20MB.txt", "20 MB of C headers"),
           ("gdb.exe", "10 MB executable")], "mornak", "speed (MB/s of input, higher is better)")
    chart(restored, path.with_name("restore.svg"),
          [("headers-20MB.txt", "restoring 20 MB of C headers"), ("gdb.exe", "restoring a 10 MB executable")],
          "unmornak", "speed (MB/s restored, higher is better)")
    print(f"wrote {path}, chart.svg and restore.svg beside it", file=sys.stderr)


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
