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
import bench  # noqa: E402  (the same inputs as bench/run)


def build():
    quiet = dict(cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--workflow", "--preset", "web"], **quiet)
    subprocess.run(["cmake", "--preset", "bench"], **quiet)
    subprocess.run(["cmake", "--build", "--preset", "bench"], **quiet)
    if not (ROOT / "web" / "node_modules" / "playwright-core").is_dir():
        subprocess.run(["npm", "ci", "--no-audit", "--no-fund", "--loglevel=error"], cwd=ROOT / "web", check=True)


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
    inputs = bench.prepare_inputs(out, set(args.inputs.split(",")) if args.inputs else None)
    work = out / "web"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    pairs, native = [], {}
    for path, _ in inputs:
        convert, restore, bk_size = subprocess.run(
            [str(out / "bench" / "library_speed"), str(path), str(args.runs)],
            capture_output=True, text=True, check=True).stdout.split()
        native[str(path)] = (float(convert), float(restore))
        # The native .bk, which the page must match and then restore.
        copy = work / path.name
        shutil.copyfile(path, copy)
        subprocess.run([str(out / "mornak"), str(copy)], stdout=subprocess.DEVNULL, check=True)
        bk = copy.with_suffix(".bk") if copy.suffix else Path(str(copy) + ".bk")
        if bk.stat().st_size != int(bk_size):
            sys.exit(f"web bench: mornak and the library disagree on {path.name}")
        pairs += [str(path), str(bk)]
        print(f"  {path.name}: native done", file=sys.stderr)
    page = json.loads(subprocess.run(["node", str(ROOT / "web" / "test" / "speed.mjs"), str(args.runs)] + pairs,
                                     cwd=ROOT, capture_output=False, stdout=subprocess.PIPE, text=True,
                                     check=True).stdout)

    lines = ["| Input | Size | convert: native MB/s | page MB/s | ÷ native | module only MB/s "
             "| restore: native MB/s | page MB/s | ÷ native | module only MB/s |",
             "|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|"]
    worst = {}
    for r in page:
        size = r["size"]
        cells = [Path(r["input"]).name, f"{size:,}"]
        for index, direction in enumerate(("convert", "restore")):
            n = mbps(size, native[r["input"]][index])
            p = mbps(size, statistics.median(r[direction]["ms"]) / 1000)
            module = mbps(size, statistics.median(r[direction]["codecMs"]) / 1000)
            worst[direction] = min(worst.get(direction, 9e9), p / n)
            cells += [f"{n:.1f}", f"{p:.1f}", f"{p / n:.2f}", f"{module:.1f}"]
        lines.append("| " + " | ".join(cells) + " |")
    chromium = subprocess.run(["/usr/bin/chromium", "--version"], capture_output=True, text=True).stdout.strip()
    report = [f"Measured {datetime.date.today()} on {bench.machine()}, {chromium}, headless.",
              f"Median of {args.runs} runs after one warm-up; every output of the page matched the native one.", "",
              "\n".join(lines), "",
              *(f"- {d}: the page's slowest input against native: {worst[d]:.2f} (target at least 0.5: "
                f"{'met' if worst[d] >= 0.5 else 'MISSED'})" for d in ("convert", "restore"))]
    report = "\n".join(report)
    print(report)
    if not args.inputs:  # only a run over every input replaces the published figures
        args.results.write_text("# The web page's speed\n\nMade by `python3 bench/web.py`.\n\n" + report + "\n")
        print(f"wrote {args.results}", file=sys.stderr)


if __name__ == "__main__":
    main()
