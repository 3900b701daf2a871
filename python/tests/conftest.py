"""What the module's tests share: inputs, the damaged-file table, and the programs to compare with."""

import os
import pathlib
import random
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


def text_like(size, seed):
    words = "the of and a to in is was he for it with as his on be at by i had not are but from or have".split()
    rng = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words).encode() + rng.choice([b" ", b" ", b" ", b", ", b".\n"])
    return bytes(out[:size])


# The round-trip rows: name, content. Large enough rows reach 16-bit codes and fresh dictionaries.
INPUTS = {
    "empty": b"",
    "one_byte": b"a",
    "all_byte_values": bytes(range(256)) * 4,
    "text": text_like(300_000, 1),
    "random": random.Random(2).randbytes(200_000),
    "random_then_text": random.Random(3).randbytes(150_000) + text_like(1_000_000, 4),
    "one_byte_repeated": b"z" * 500_000,
}


def _pack(codes, width):
    value, bits = 0, 0
    for code in codes:
        value, bits = value << width | code, bits + width
    whole = bits // 8  # a last partial byte is left out, as the writer leaves it
    return (value >> (bits - 8 * whole)).to_bytes(whole, "big") if whole else b""


def _make_file(steps):
    file = bytearray()
    for step in filter(None, (s.strip() for s in steps.split(";"))):
        verb, *args = step.split()
        if verb == "book":
            file += b"book" + int(args[0]).to_bytes(4, "little")
        elif verb == "raw":
            file += bytes.fromhex(args[0])
        elif verb.endswith(":"):
            file += _pack([int(code) for code in args], int(verb[:-1]))
        elif verb == "cut":
            size = int(args[0])
            file[:] = file[:size] + bytes(max(0, size - len(file)))
        elif verb == "set":
            file[int(args[0])] = int(args[1], 16)
        else:
            raise ValueError(f"damaged.txt: no step {verb}")
    return bytes(file)


def damaged_rows():
    """tests/data/damaged.txt: (name, file, restoring (status, at_byte, code, restored), checking (status, at_byte), words)."""
    rows = []
    for line in (ROOT / "tests/data/damaged.txt").read_text().splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        name, steps, restoring, checking, words = (field.strip() for field in line.split("|"))
        status, at, code, restored = restoring.split()
        restoring = (status, int(at), int(code), int(restored))
        checking = restoring[:2] if checking == "same" else (checking.split()[0], int(checking.split()[1]))
        rows.append(pytest.param(_make_file(steps), restoring, checking, words, id=name))
    return rows


@pytest.fixture(scope="session")
def programs():
    """The folder of the mornak and unmornak programs built beside the module (CTest says where)."""
    folder = os.environ.get("MORNAK_PROGRAMS") or os.path.dirname(shutil.which("mornak") or "")
    if not folder or not os.path.exists(os.path.join(folder, "mornak")):
        pytest.skip("the mornak program is needed: run through CTest, or put it on the PATH")
    return pathlib.Path(folder)


def run_mornak(programs, path):
    subprocess.run([programs / "mornak", path], check=True, stdout=subprocess.DEVNULL)
