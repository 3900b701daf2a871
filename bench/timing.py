"""Running and timing commands: mornak and the other tools converting, then
restoring, file to file; the library in process; the pointer chase that gives
the floor for the library's speed.

Every tool runs once to warm up, then `runs` times, the tools taking turns run
by run (A B C A B C ...) so that a drift of the machine's speed hits them
alike. A pin (a CPU number) runs every command on that CPU only."""

import filecmp
import shutil
import statistics
import subprocess
import sys
from pathlib import Path


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


def measure_convert(build, inputs, tools, runs, pin):
    """Times converting each input, file to file, tools taking turns run by
    run; mornak's last .bk of each input then goes through stream_stats, whose
    round trip must give the input back."""
    work = build / "work"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    mornak = build / "mornak"
    prefix = ["taskset", "-c", pin] if pin else []
    results = []  # dicts: input, kind, size, tool, out, wall, lo, hi, cpu, peak, clears, full, further
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
