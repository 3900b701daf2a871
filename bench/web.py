#!/usr/bin/env python3
"""Times the web page beside the native library, both ways, on the bench's inputs.

The page (build/web/mornak.html) runs in headless Chromium; each input is
chosen --runs times after one warm-up, to convert and then its .bk to restore,
and the first output of each is compared with the native one. The page's time
is the whole job as its worker measures it: reading the file in chunks, the
module, collecting the output. The native figure is the library's one-shot
calls in one process on the file held in memory (bench/library_speed). MB/s
is 10^6 bytes of the original per second, both ways; the tables give medians.

    python3 bench/web.py [--runs N] [--inputs a,b]

Builds what it needs first (the web and bench presets, the browser driver).
Needs what web/test/run needs: emscripten, chromium, Node.js and npm.
"""

import argparse
import datetime
import json
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
from inputs import prepare_inputs  # noqa: E402  (the same inputs as bench/run)
from report import machine  # noqa: E402


def build():
    quiet = dict(cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--workflow", "--preset", "web"], **quiet)
    subprocess.run(["cmake", "--preset", "bench"], **quiet)
    subprocess.run(["cmake", "--build", "--preset", "bench"], **quiet)
    if not (ROOT / "web" / "node_modules" / "playwright-core").is_dir():
        subprocess.run(["npm", "ci", "--no-audit", "--no-fund", "--loglevel=error"], cwd=ROOT / "web", check=True)


def library_speed(out, path, runs):
    """The native library's median seconds converting and restoring `path`
    with the one-shot calls (bench/library_speed, which checks its output)."""
    size = path.stat().st_size
    seconds = []
    for way in ("convert_one_shot", "restore_one_shot"):
        line = subprocess.run([str(out / "bench" / "library_speed"), str(path), str(runs), way],
                              capture_output=True, text=True, check=True).stdout.split()
        seconds.append(size / (float(line[1]) * 1e6))
    return seconds


def mbps(size, seconds):
    return size / seconds / 1e6


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5, help="timed runs per input and direction (default 5)")
    parser.add_argument("--inputs", help="comma-separated input names to run")
    parser.add_argument("--results", type=Path, default=ROOT / "bench" / "web_results.md")
    args = parser.parse_args()

    build()
    out = ROOT / "build" / "bench"
    inputs = prepare_inputs(out, set(args.inputs.split(",")) if args.inputs else None)
    work = out / "web"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    native, page = {}, []
    for path, _ in inputs:
        # The native .bk, which the page must match and then restore.
        copy = work / path.name
        shutil.copyfile(path, copy)
        subprocess.run([str(out / "mornak"), str(copy)], stdout=subprocess.DEVNULL, check=True)
        bk = copy.with_suffix(".bk") if copy.suffix else Path(str(copy) + ".bk")
        # The library right before and right after the page, so that a change
        # in the machine's load meanwhile hits both alike.
        before = library_speed(out, path, args.runs)
        page += json.loads(subprocess.run(["node", str(ROOT / "web" / "test" / "speed.mjs"), str(args.runs),
                                           str(path), str(bk)], cwd=ROOT, stdout=subprocess.PIPE, text=True,
                                          check=True).stdout)
        after = library_speed(out, path, args.runs)
        native[str(path)] = [(a + b) / 2 for a, b in zip(before, after)]

    lines = ["| Input | Size | convert: native MB/s | page MB/s | ÷ native | module only MB/s "
             "| restore: native MB/s | page MB/s | ÷ native | module only MB/s |",
             "|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|"]
    shares = {"convert": [], "restore": []}
    for r in page:
        size = r["size"]
        cells = [Path(r["input"]).name, f"{size:,}"]
        for index, direction in enumerate(("convert", "restore")):
            n = mbps(size, native[r["input"]][index])
            p = mbps(size, statistics.median(r[direction]["ms"]) / 1000)
            module = mbps(size, statistics.median(r[direction]["codecMs"]) / 1000)
            shares[direction].append((size, p / n))
            cells += [f"{n:.1f}", f"{p:.1f}", f"{p / n:.2f}", f"{module:.1f}"]
        lines.append("| " + " | ".join(cells) + " |")
    judged = []
    for direction, pairs in shares.items():
        for label, group in (("1 MB and larger", [q for s, q in pairs if s >= 1e6]),
                             ("under 1 MB", [q for s, q in pairs if s < 1e6])):
            if group:
                met = sum(q >= 0.5 for q in group)
                judged.append(f"- {direction}, inputs {label}: the page at {min(group):.2f} to {max(group):.2f} of "
                              f"native; at least 0.5 on {met} of {len(group)}")
    chromium = subprocess.run(["/usr/bin/chromium", "--version"], capture_output=True, text=True).stdout.strip()
    report = [f"Measured {datetime.date.today()} on {machine()}, {chromium}, headless.",
              f"Median of {args.runs} runs after one warm-up; the native figure is the mean of the library's medians "
              f"right before and right after the page's runs of that input; every output of the page matched the "
              f"native one.", "",
              "\n".join(lines), "", *judged]
    report = "\n".join(report)
    print(report)
    if not args.inputs:  # only a run over every input replaces the published figures
        args.results.write_text("# The web page's speed\n\nMade by `python3 bench/web.py`.\n\n" + report + "\n")
        print(f"wrote {args.results}", file=sys.stderr)


if __name__ == "__main__":
    main()
