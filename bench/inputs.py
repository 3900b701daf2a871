"""The bench's inputs and how they are made: generated files, the same bytes on
every machine; files taken from this machine; and the shared corpus when it is
there. The first two kinds are written to BUILD/data, and made again only when
missing (or, for generated ones, of the wrong size); the corpus is read in place."""

import gzip
import subprocess
import sys
from pathlib import Path

CORPUS = Path(__file__).resolve().parent.parent.parent / "shared" / "corpus"

# name, kind, bytes, seed: made by make_input, the same on every machine.
GENERATED = [
    ("text-32MiB.txt", "text", 32 << 20, 1),
    ("records-16MiB.bin", "records", 16 << 20, 2),
    ("text-150KB.txt", "text", 150_000, 3),
]


def concatenated(paths, limit, reader=lambda p: p.read_bytes()):
    """The first `limit` bytes of the files read one after another (unreadable
    ones left out), or None when together they hold fewer."""
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
    """Real files from this machine, which restart the dictionary as generated
    text never does: name, kind, how to make it (None when the machine has too
    little of the source)."""
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
                inputs.append((p, "binary" if p.suffix in (".jpeg", ".pdf", ".protodata", ".gtb") else "text"))
    else:
        print(f"note: {CORPUS} not found; only generated and machine inputs are measured", file=sys.stderr)
    return inputs
