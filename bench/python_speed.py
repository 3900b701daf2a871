#!/usr/bin/env python3
"""The Python module beside the library it is built on, on real files of 1 MB and more:

  compress, decompress     mornak.compress / mornak.decompress beside the C one-shot calls
                           (library_speed's convert_one_shot and restore_one_shot)
  Decompressor, 64 KiB     a Decompressor fed 64 KiB pieces beside the C decoder fed the same
                           (library_speed's restore_streaming)
  2 threads                convert_path on two large files in two threads, beside one after the other
  lines, "rt"              20 MB of text read line by line through mornak.open(..., "rt") beside
                           gzip.open(..., "rt") of the same text

Each row is a ratio of times (less is faster for the module), the median of interleaved pairs:
the two sides take turns, so a drift of the machine's speed hits both alike. Builds with the bench
preset; writes bench/python_results.md.

    bench/python_speed.py [--runs N]
"""

import argparse
import gzip
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

from inputs import prepare_inputs

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "bench"
ONE_SHOT_INPUTS = ["headers-20MB.txt", "man-10MB.txt", "cmake.exe", "libstdc++.so"]
CHUNK = 64 * 1024


def c_seconds(path, way):
    """Seconds the library takes for one `way` on the file, timed inside library_speed (one round after a warm-up)."""
    out = subprocess.run([str(BUILD / "bench" / "library_speed"), str(path), "1", way],
                         capture_output=True, text=True, check=True).stdout.split()
    return path.stat().st_size / 1e6 / float(out[1])


def timed(call):
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def pairs(runs, first, second):
    """Median of first() / second() over interleaved runs, after one warm-up of each."""
    first(), second()
    return statistics.median(first() / second() for _ in range(runs))


def decompress_in_chunks(mornak, bk):
    decompressor = mornak.Decompressor()
    with memoryview(bk) as view:
        for at in range(0, len(bk), CHUNK):
            decompressor.decompress(view[at:at + CHUNK])
    assert decompressor.eof


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    subprocess.run(["cmake", "--preset", "bench"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "bench"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    sys.path.insert(0, str(BUILD / "python"))
    import mornak

    rows = []
    inputs = [path for path, _ in prepare_inputs(BUILD, ONE_SHOT_INPUTS + [p.name for p in _corpus_megabytes()])]
    for path in inputs:
        data = path.read_bytes()
        bk = mornak.compress(data)
        rows.append((f"`compress` {path.name}", pairs(args.runs, lambda: timed(lambda: mornak.compress(data)),
                                                      lambda: c_seconds(path, "convert_one_shot"))))
        rows.append((f"`decompress` {path.name}", pairs(args.runs, lambda: timed(lambda: mornak.decompress(bk)),
                                                        lambda: c_seconds(path, "restore_one_shot"))))
        rows.append((f"`Decompressor`, 64 KiB pieces, {path.name}",
                     pairs(args.runs, lambda: timed(lambda: decompress_in_chunks(mornak, bk)),
                           lambda: c_seconds(path, "restore_streaming"))))

    with tempfile.TemporaryDirectory(prefix="mornak-python-bench-") as scratch:
        # Two files of equal size, the two halves of the C headers, so that neither thread waits for the other.
        text = next(p for p in inputs if p.name == "headers-20MB.txt")
        halves = text.read_bytes()
        copies = [Path(scratch) / "headers-first-10MB.txt", Path(scratch) / "headers-second-10MB.txt"]
        copies[0].write_bytes(halves[:len(halves) // 2])
        copies[1].write_bytes(halves[len(halves) // 2:])

        def threads():
            workers = [threading.Thread(target=mornak.convert_path, args=(copy,)) for copy in copies]
            return timed(lambda: ([w.start() for w in workers], [w.join() for w in workers]))

        def one_after_the_other():
            return timed(lambda: [mornak.convert_path(copy) for copy in copies])

        rows.append(("2 threads converting the two halves of headers-20MB.txt, ÷ one after the other",
                     pairs(args.runs, threads, one_after_the_other)))

        bk_path, gz_path = Path(scratch) / "lines.bk", Path(scratch) / "lines.gz"
        bk_path.write_bytes(mornak.compress(text.read_bytes()))
        gz_path.write_bytes(gzip.compress(text.read_bytes(), compresslevel=6))

        def lines(opener, path):
            def read():
                with opener(path, "rt", encoding="latin-1") as f:
                    for _ in f:
                        pass
            return lambda: timed(read)

        rows.append(("20 MB of text line by line, `mornak.open` ÷ `gzip.open` (\"rt\")",
                     pairs(args.runs, lines(mornak.open, bk_path), lines(gzip.open, gz_path))))

    table = ["| row | time ÷ the other's |", "|---|--:|"] + [f"| {name} | {ratio:.2f} |" for name, ratio in rows]
    report = (f"# The Python module's speed\n\n`python3 bench/python_speed.py --runs {args.runs}` on "
              f"{os.cpu_count()} cores, Python {sys.version.split()[0]}, libmornak {mornak.__version__}: the median "
              "of interleaved pairs, the module's time ÷ the library's (or as the row says).\n\n"
              + "\n".join(table) + "\n")
    (ROOT / "bench" / "python_results.md").write_text(report)
    print(report)


def _corpus_megabytes():
    from inputs import CORPUS
    return [p for p in sorted(CORPUS.iterdir()) if p.is_file() and p.stat().st_size >= 1_000_000] \
        if CORPUS.is_dir() else []


if __name__ == "__main__":
    main()
