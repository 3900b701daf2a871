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

The parts: inputs.py makes the inputs, tools.py lists the other tools,
timing.py runs and times everything, report.py writes the tables, targets and
charts; this file takes the options and runs the steps in order.
"""

import argparse
from pathlib import Path

from inputs import prepare_inputs
from report import publish, summary
from timing import measure_convert, measure_library, measure_restore, pointer_chase
from tools import RESTORE_TOOLS, TOOLS, chosen

ROOT = Path(__file__).resolve().parent.parent


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
    tools = chosen(TOOLS, wanted_tools)
    restore_tools = chosen(RESTORE_TOOLS, wanted_tools)
    inputs = prepare_inputs(build, set(args.inputs.split(",")) if args.inputs else None)
    full_run = not wanted_tools and not args.inputs and not args.pin

    converted = measure_convert(build, inputs, tools, args.runs, args.pin) if tools else []
    pinned = []
    if full_run:  # mornak beside compress again, both on one core
        pair = [t for t in tools if t[0] in ("mornak", "compress -c")]
        pinned = measure_convert(build, inputs, pair, args.runs, "0")
    restored = measure_restore(build, inputs, restore_tools, args.runs, args.pin) if restore_tools else []
    library = measure_library(build, inputs, args.runs, args.pin) if not wanted_tools or "library" in wanted_tools \
        else {}
    pinned_restore = []
    if full_run and restored:
        pair = [t for t in restore_tools if t[0] in ("unmornak", "compress -d")]
        pinned_restore = measure_restore(build, inputs, pair, args.runs, "0")
    floor = pointer_chase(build, args.pin) if library else None

    report = summary(args.runs, args.pin, converted, pinned, library, floor, restored, pinned_restore)
    print(report)
    if full_run:  # only a full run replaces the published figures
        publish(args.results, report, converted, restored)


if __name__ == "__main__":
    main()
