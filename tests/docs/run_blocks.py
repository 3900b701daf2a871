#!/usr/bin/env python3
"""Every command and program in the README, docs/ and bench/README.md, run.

    run_blocks.py --source DIR --build DIR [--cc CC] [--flags FLAGS] [FILE.md ...]

The fenced blocks of each file, in order:

  ```sh     run with `bash -e` in the file's own scratch folder, standard output
            and standard error together, as a terminal shows them; a plain ```
            block right after it is the output, compared exactly (but for the
            last newline). A failing command fails the test.
  ```c      a complete C99 program whose first line names it, /* NAME.c: ... */.
            It is built here against the build tree's header and static library
            (-std=c99 -pedantic -Wall -Wextra -Werror) and written into the
            scratch folder as NAME.c, and a later ```sh block of the same file
            must run it as ./NAME: that block builds it as a reader would and
            checks what it does.
  ```cmake  a file whose first line names it, # PATH: ..., written into the
            scratch folder; a later ```sh block must configure it, as
            `cmake -S FOLDER` (`cmake -S .` for a CMakeLists.txt at the top).
  ```python run as a script by this interpreter in the same folder, with the
            Python module of the build tree importable; its output is checked
            as for sh. Where that build has no module (the sanitizer builds),
            shown as skipped.
  ```       any other plain block is text (a usage line, a layout); every other
            kind of block is refused, so that no command hides in one.

Each file's scratch folder holds story.txt (samples/sample.txt), texts/ with
a.txt, notes/notes.md and notes/notes.txt (copies of it), samples/ (a link to
the checkout's, as in a clone) and build/release, a link to the build tree
under test. HOME is a scratch folder of its own, with
that build installed into ~/.local as the README installs it; PATH starts with
the build tree, so mornak and unmornak are the programs built. LC_ALL=C.

With --flags (the sanitizer builds), C programs are built with those flags,
and a `cc` that adds them is on PATH before the system's, since the library then needs
the sanitizers' run-time, as the programs do.

As ever under `bash -e`, a failure before `&&` or `||` does not end the
block: the blocks put a command whose failure matters on a line of its own,
or last, or before output that is compared.

A few commands cannot run inside a test; EXCEPTIONS lists them and why. A
block whose every command is one of them is shown as skipped; a block that
mixes them with others fails (split it), and so does an exception that no
block needs any more.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

SKIP = 77  # ctest's SKIP_RETURN_CODE for this test

# (a command's start, why a test does not run it)
EXCEPTIONS = [
    (r"cmake --workflow --preset ", "builds a whole tree in the source folder, minutes on two cores; "
                                    "--preset test is the workflow that runs this test"),
    (r"apt-get install ", "changes the machine's packages: root and the network"),
    (r"(python3 )?bench/", "the bench: minutes (damage.py) to 45 minutes (run), the bench preset's helpers, "
                           "and ../shared/corpus for the published figures"),
    (r"tests/fuzz/run ", "the fuzz preset (clang) and minutes per target"),
    (r"web/test/run", "emscripten, chromium and npm, which this workflow does not need"),
    (r"js/test/run|\(cd js && npm pack\)", "emscripten, and npm for TypeScript, which this workflow does not need"),
]

FENCE = re.compile(r"^```(\S*)\s*$")
NAMED = {"c": re.compile(r"^/\* ([\w.-]+\.c): "), "cmake": re.compile(r"^# ([\w./-]+): ")}


def blocks(text):
    """(kind, body, first line number, follows_directly) for each fenced block."""
    found, lines, i, last_end = [], text.splitlines(), 0, None
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        start, body = i + 1, []
        i += 1
        while i < len(lines) and lines[i] != "```":
            body.append(lines[i])
            i += 1
        if i == len(lines):
            raise SystemExit(f"line {start}: a block that never ends")
        directly = last_end is not None and all(not lines[j].strip() for j in range(last_end + 1, start - 1))
        found.append((m.group(1), "\n".join(body) + "\n", start, directly))
        last_end = i
        i += 1
    return found


def commands(body):
    """The block's commands: lines joined at a trailing backslash, blank lines and comments left out."""
    joined = re.sub(r"\\\n", " ", body)
    return [line.strip() for line in joined.splitlines() if line.strip() and not line.strip().startswith("#")]


def exception_for(body):
    """The reason the block is not run, None when it runs, or an error when it mixes."""
    reasons = []
    for command in commands(body):
        reasons.append(next((i for i, (start, _) in enumerate(EXCEPTIONS) if re.match(start, command)), None))
    if reasons and all(r is not None for r in reasons):
        return set(reasons)
    if any(r is not None for r in reasons):
        raise ValueError("mixes commands a test cannot run with others: put those in a block of their own")
    return None


class Runner:
    def __init__(self, args, scratch):
        self.source, self.build = args.source.resolve(), args.build.resolve()
        self.cc, self.flags = args.cc, args.flags.split()
        self.scratch = scratch
        self.home = scratch / "home"
        self.home.mkdir()
        subprocess.run([os.environ.get("CMAKE", "cmake"), "--install", str(self.build),
                        "--prefix", str(self.home / ".local")],
                       check=True, stdout=subprocess.DEVNULL)
        path = [str(self.build)]
        if self.flags:
            shim = scratch / "bin"
            shim.mkdir()
            (shim / "cc").write_text(f'#!/bin/sh\nexec {self.cc} "$@" {" ".join(self.flags)}\n')
            (shim / "cc").chmod(0o755)
            path.append(str(shim))
        self.env = dict(os.environ, HOME=str(self.home), LC_ALL="C",
                        PATH=os.pathsep.join(path + [os.environ.get("PATH", "/usr/bin:/bin")]))
        self.env.pop("PKG_CONFIG_PATH", None)
        self.env.pop("LD_LIBRARY_PATH", None)
        self.used = set()
        self.failures = 0

    def folder(self, doc):
        work = self.scratch / re.sub(r"\W", "_", str(doc))
        sample = self.source / "samples" / "sample.txt"
        (work / "texts" / "notes").mkdir(parents=True)
        for name in ["story.txt", "texts/a.txt", "texts/notes/notes.md", "texts/notes/notes.txt"]:
            shutil.copyfile(sample, work / name)
        (work / "build").mkdir()
        (work / "build" / "release").symlink_to(self.build)
        (work / "samples").symlink_to(self.source / "samples")
        return work

    def fail(self, where, why):
        print(f"FAIL {where}: {why}")
        self.failures += 1

    def build_c(self, where, name, body, work):
        (work / name).write_text(body)
        checked = self.scratch / "checked"
        checked.mkdir(exist_ok=True)
        built = subprocess.run([self.cc, "-std=c99", "-pedantic", "-Wall", "-Wextra", "-Werror", *self.flags,
                                "-I", str(self.source / "include"), str(work / name),
                                str(self.build / "lib" / "libmornak.a"), "-o", str(checked / name[:-2])],
                               capture_output=True, text=True)
        if built.returncode != 0:
            self.fail(where, f"{name} does not build as C99 against the library:\n{built.stderr}")

    def run_python(self, where, body, work, expected):
        module = self.build / "python"
        if not list(module.glob("mornak/_mornak*")):
            print(f"skip {where}: this build has no Python module")
            return
        env = dict(self.env, PYTHONPATH=str(module), PYTHONDONTWRITEBYTECODE="1")
        self.run_sh(where, body, work, expected, [sys.executable], "block.py", env)

    def run_sh(self, where, body, work, expected, interpreter=("bash", "-e"), name="block.sh", env=None):
        script = work.parent / name
        script.write_text(body)
        ran = subprocess.run([*interpreter, str(script)], cwd=work, env=env or self.env, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True, errors="replace", timeout=300)
        if ran.returncode != 0:
            self.fail(where, f"exit status {ran.returncode}:\n{body}---\n{ran.stdout}")
        elif expected is not None and ran.stdout.rstrip("\n") != expected.rstrip("\n"):
            self.fail(where, f"output differs from the block after it:\n{body}--- printed:\n{ran.stdout}"
                             f"--- the text says:\n{expected}")
        else:
            print(f"ok   {where}")

    def document(self, doc):
        path = self.source / doc
        work = self.folder(doc)
        found = blocks(path.read_text())
        files = []  # (name, where) of the programs and files later blocks must use
        for n, (kind, body, line, directly) in enumerate(found):
            where = f"{doc}:{line}"
            if kind == "":
                continue  # text, or output checked with the block before it
            if kind in NAMED:
                m = NAMED[kind].match(body)
                if not m:
                    self.fail(where, f"a ```{kind} block's first line names its file ({NAMED[kind].pattern})")
                    continue
                name = m.group(1)
                (work / name).parent.mkdir(parents=True, exist_ok=True)
                if kind == "c":
                    self.build_c(where, name, body, work)
                    files.append(("./" + name[:-2], where))
                else:
                    (work / name).write_text(body)
                    files.append((f"cmake -S {Path(name).parent}", where))
                continue
            following = found[n + 1] if n + 1 < len(found) else None
            expected = following[1] if following and following[0] == "" and following[3] else None
            if kind == "python":
                self.run_python(where, body, work, expected)
                continue
            if kind != "sh":
                self.fail(where, f"a ```{kind} block: only sh, c, cmake, python and plain blocks are allowed")
                continue
            try:
                skipped = exception_for(body)
            except ValueError as e:
                self.fail(where, str(e))
                continue
            if skipped is not None:
                self.used |= skipped
                if expected is not None:
                    self.fail(where, "output after a block that is not run cannot be checked")
                print(f"skip {where}: " + "; ".join(EXCEPTIONS[i][1] for i in sorted(skipped)))
                continue
            files = [(name, at) for name, at in files if not re.search(re.escape(name) + r"(\s|$)", body)]
            self.run_sh(where, body, work, expected)
        for name, at in files:
            self.fail(at, f"no ```sh block after it uses {name}")

    def unused_exceptions(self):
        for i, (start, why) in enumerate(EXCEPTIONS):
            if i not in self.used:
                self.fail("EXCEPTIONS", f"no block needs the exception for '{start}' any more: drop it")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", type=Path, required=True)
    parser.add_argument("--build", type=Path, required=True)
    parser.add_argument("--cc", default="cc")
    parser.add_argument("--flags", default="", help="for C programs, e.g. the sanitizers'")
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()
    missing = [tool for tool in [args.cc, "pkg-config", "cmake", "sha256sum"] if shutil.which(tool) is None]
    if missing:
        print(f"SKIPPED: the blocks need {', '.join(missing)}, not here")
        return SKIP
    docs = args.files or ["README.md", *sorted(str(p.relative_to(args.source)) for p in
                                               (args.source / "docs").glob("*.md")), "bench/README.md"]
    with tempfile.TemporaryDirectory(prefix="mornak-docs-") as scratch:
        runner = Runner(args, Path(scratch))
        for doc in docs:
            runner.document(doc)
        if not args.files:
            runner.unused_exceptions()
    print(f"{runner.failures} failed" if runner.failures else "every block ran as its text says")
    return 1 if runner.failures else 0


if __name__ == "__main__":
    sys.exit(main())
