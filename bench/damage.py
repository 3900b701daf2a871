#!/usr/bin/env python3
"""What one flipped bit does to a .bk file: how often unmornak finds it, how
often it restores into other bytes without a word, and how often --test passes
it all the same. A .bk file carries no checksum; this measures what that costs.

For each input, mornak converts a copy; then, --flips times, one bit of the
stream (past the 8-byte header, every bit as likely) is flipped in a copy of
the .bk file, and unmornak restores it to standard output and checks it with
--test. A restore is "found" when unmornak fails, "silent" when it succeeds
with other bytes than the input's (the same bytes would be "harmless"); for
found damage, the distance from the flipped byte to the byte unmornak names,
and how many of the bytes that went out before it differ from the input.

    python3 bench/damage.py [--build build/release] [--flips 300] [--seed 1] [FILE ...]

Without FILEs: three files from this machine (a word list or text, C headers, a
binary) and the shared corpus when it is there. The figures depend on the files
and the seed, and the same command gives the same figures on the same files.
"""

import argparse
import random
import re
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

from inputs import CORPUS, concatenated

HEADER_BYTES = 8


def default_inputs(work):
    """Files to damage: a text, C headers and a binary from this machine (when
    it has them), then the corpus's texts and binaries."""
    made = []
    words = Path("/usr/share/dict/words")
    text = words.read_bytes()[:200_000] if words.exists() else None
    sources = [
        ("words-200KB.txt", lambda: text),
        ("headers-3MB.txt", lambda: concatenated(sorted(Path("/usr/include").rglob("*.h")), 3_000_000)),
        ("binary-300KB", lambda: Path("/usr/bin/cmake").read_bytes()[:300_000]),
    ]
    for name, make in sources:
        try:
            content = make()
        except OSError:
            content = None
        if content:
            path = work / name
            path.write_bytes(content)
            made.append(path)
    if CORPUS.is_dir():
        made += [p for p in sorted(CORPUS.iterdir()) if p.is_file() and p.name != "README.md"]
    return made


def convert(mornak, source, work):
    """mornak's .bk of `source`, made from a copy in `work`."""
    copy = work / "source"
    copy.write_bytes(source.read_bytes())
    subprocess.run([str(mornak), str(copy)], stdout=subprocess.DEVNULL, check=True)
    return (work / "source.bk").read_bytes()


def found_byte(message):
    """The byte unmornak names in its words, if any."""
    numbers = re.findall(r"byte (\d+)", message)
    return int(numbers[0]) if numbers else None


def damage(unmornak, original, bk, flips, rng, work):
    """Counts of each outcome, and the distances and wrong bytes of found damage."""
    counts = {"found": 0, "silent": 0, "harmless": 0, "test passed": 0}
    distances, wrong_out = [], []
    stream_bits = 8 * (len(bk) - HEADER_BYTES)
    damaged = work / "damaged.bk"
    for _ in range(flips):
        bit = rng.randrange(stream_bits)
        at = HEADER_BYTES + bit // 8
        flipped = bytearray(bk)
        flipped[at] ^= 0x80 >> (bit % 8)
        damaged.write_bytes(flipped)
        restored = subprocess.run([str(unmornak), str(damaged), "-"], capture_output=True)
        tested = subprocess.run([str(unmornak), "--test", str(damaged)], capture_output=True)
        counts["test passed"] += tested.returncode == 0
        if restored.returncode != 0:
            counts["found"] += 1
            named = found_byte(restored.stderr.decode(errors="replace"))
            if named is not None:
                distances.append(named - at)
            out = restored.stdout
            wrong_out.append(sum(a != b for a, b in zip(out, original)) + max(0, len(out) - len(original)))
        elif restored.stdout == original:
            counts["harmless"] += 1
        else:
            counts["silent"] += 1
    return counts, distances, wrong_out


def share(part, whole):
    return f"{100 * part / whole:.1f}%" if whole else "n/a"


def spread(values):
    return f"{statistics.median(values):,.0f} / {max(values):,}" if values else "n/a"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, default=Path("build/release"), help="folder with mornak and unmornak")
    parser.add_argument("--flips", type=int, default=300, help="one-bit flips per file (default 300)")
    parser.add_argument("--seed", type=int, default=1, help="where the flips fall (default 1)")
    parser.add_argument("files", nargs="*", type=Path)
    args = parser.parse_args()
    mornak, unmornak = args.build / "mornak", args.build / "unmornak"
    if not mornak.exists() or not unmornak.exists():
        sys.exit(f"damage: no mornak and unmornak in {args.build}: cmake --workflow --preset demo builds them")

    with tempfile.TemporaryDirectory() as scratch:
        work = Path(scratch)
        inputs = args.files or default_inputs(work)
        print(f"One flipped bit in the stream of each .bk file, {args.flips} times per file (seed {args.seed}).")
        print()
        print("| input | bytes | .bk bytes | unmornak finds it | restores other bytes silently "
              "| --test passes it | distance to the byte named, median / max | wrong bytes out before, "
              "median / max |")
        print("|---|--:|--:|--:|--:|--:|--:|--:|")
        totals = {"found": 0, "silent": 0, "harmless": 0, "test passed": 0}
        for path in inputs:
            original = path.read_bytes()
            bk = convert(mornak, path, work)
            rng = random.Random(f"{args.seed}:{path.name}")
            counts, distances, wrong_out = damage(unmornak, original, bk, args.flips, rng, work)
            for key in totals:
                totals[key] += counts[key]
            print(f"| {path.name} | {len(original):,} | {len(bk):,} | {share(counts['found'], args.flips)} "
                  f"| {share(counts['silent'], args.flips)} | {share(counts['test passed'], args.flips)} "
                  f"| {spread(distances)} | {spread(wrong_out)} |", flush=True)
        whole = args.flips * len(inputs)
        print(f"| all {len(inputs)} files | | | {share(totals['found'], whole)} | {share(totals['silent'], whole)} "
              f"| {share(totals['test passed'], whole)} | | |")
        print()
        print(f"Restored the same bytes despite the flip: {totals['harmless']} of {whole}.")


if __name__ == "__main__":
    main()
