"""convert_path and restore_path: the programs' jobs on one file, with their names and their care.

A result is written into a temporary file beside its name and takes the
name only once it is complete, so a name is replaced whole or not at all;
on any failure the temporary file is removed. The work runs with the GIL
released, so threads converting different files use different cores.
"""

import os
import stat
import tempfile
import threading

from . import _mornak

__all__ = ["bk_name", "convert_path", "restore_path"]

_CHUNK = 1 << 20  # bytes read from an input at a time


def _current_umask():
    """The process's umask, read where the system tells it: setting it to read it would race with other
    threads' files."""
    try:
        with open("/proc/self/status", encoding="ascii") as status:
            return next(int(line.split()[1], 8) for line in status if line.startswith("Umask:"))
    except (OSError, StopIteration, ValueError, IndexError):
        with _umask_lock:
            mask = os.umask(0o077)
            os.umask(mask)
            return mask


_umask_lock = threading.Lock()


def _output_mode(input_mode):
    """The input's permission bits without execute bits, less the umask: never more than the input grants."""
    return stat.S_IMODE(input_mode) & 0o666 & ~_current_umask()


def bk_name(path):
    """The .bk path beside path: the last component's extension replaced by ".bk", or ".bk" appended
    when it has none (no dot, or only a leading one as in ".profile"). Dots in folder names are never taken."""
    path = os.fsdecode(path)
    folder, base = os.path.split(path)
    dot = base.rfind(".")
    stem = base[:dot] if dot > 0 else base
    return os.path.join(folder, stem + ".bk")


def _restored_name(bk_path):
    folder, base = os.path.split(bk_path)
    if not base.endswith(".bk") or base == ".bk":
        raise ValueError(f"{bk_path}: a name that does not end in .bk, or is only .bk, needs an output")
    return os.path.join(folder, base[:-3])


def _same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


class _Temporary:
    """A temporary file beside `target`, removed unless committed."""

    def __init__(self, target, mode):
        folder = os.path.dirname(target) or "."
        # A short name of its own, whatever the target's length.
        self.fd, self.path = tempfile.mkstemp(dir=folder, prefix=".mornak-", suffix=".tmp")
        os.fchmod(self.fd, mode)

    def commit(self, target, replace):
        os.close(self.fd)
        self.fd = None
        if replace:
            os.replace(self.path, target)
        else:
            os.link(self.path, target)  # refuses to replace whatever took the name meanwhile
            os.unlink(self.path)
        self.path = None

    def abort(self):
        if self.fd is not None:
            os.close(self.fd)
        if self.path is not None:
            os.unlink(self.path)


def _open_regular(path, what):
    """The file at path, opened for reading, and its status; ValueError for anything but a regular file,
    found without blocking (a FIFO would wait for a writer)."""
    fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    try:
        info = os.fstat(fd)
        if not stat.S_ISREG(info.st_mode):
            raise ValueError(f"{what}: not a regular file")
        os.set_blocking(fd, True)
        return open(fd, "rb", buffering=0), info
    except BaseException:
        os.close(fd)
        raise


def _write_all(fd, data):
    with memoryview(data) as view:
        while view:
            view = view[os.write(fd, view):]


def convert_path(path):
    """Converts the file at path into its .bk file beside it, as `mornak PATH` does.

    The .bk name is bk_name(path); a file there is replaced whole once the
    new one is complete (a symbolic link there is replaced, not followed).
    Refused with ValueError, before anything is written: an input over
    2,147,483,647 bytes, one that is not a regular file, or one whose .bk
    name is the input itself. Returns (input bytes, .bk bytes).
    """
    path = os.fsdecode(path)
    target = bk_name(path)
    source, info = _open_regular(path, f"Can't read file {path}")
    with source:
        if info.st_size > _mornak.MAX_INPUT:
            raise ValueError(f"Can't convert file {path}: {info.st_size} bytes is more than the "
                             f"{_mornak.MAX_INPUT} a .bk file can hold")
        if _same_file(path, target):
            raise ValueError(f"Can't convert file {path}: its .bk name {target} is the file itself")
        compressor = _mornak.Compressor(info.st_size)
        output = _Temporary(target, _output_mode(info.st_mode))
        try:
            taken = written = 0
            chunk = bytearray(_CHUNK)
            with memoryview(chunk) as view:
                while True:
                    n = source.readinto(chunk)
                    if n and taken + n <= info.st_size:
                        taken += n
                        data = compressor.compress(view[:n])
                    elif n or taken != info.st_size:
                        raise ValueError(f"Can't read file {path}: it changed while being read")
                    else:
                        data = compressor.flush()
                    _write_all(output.fd, data)
                    written += len(data)
                    if not n:
                        break
            output.commit(target, replace=True)
        except BaseException:
            output.abort()
            raise
    return info.st_size, written


def restore_path(path, output=None):
    """Restores the .bk file at path, as `unmornak PATH [OUTPUT]` does; returns the bytes restored.

    Without output, FILE.bk is restored into FILE beside it, which must not
    exist yet (FileExistsError, also when it appears while restoring); a
    name that does not end in .bk needs an output. A named output that is a
    regular file is replaced whole once the restored file is complete; a
    device or a FIFO is written into as it stands. A damaged file raises
    BkError and leaves no restored file behind.
    """
    path = os.fsdecode(path)
    named = output is not None
    target = os.fsdecode(output) if named else _restored_name(path)
    if not named and os.path.lexists(target):
        raise FileExistsError(f"{path}: {target} already exists; name an output to replace it")
    if _same_file(path, target):
        raise ValueError(f"{path}: {target} is the .bk file itself; name another output")
    source, info = _open_regular(path, path)
    with source:
        into = None
        if named:
            try:
                kind = os.stat(target).st_mode
            except FileNotFoundError:
                kind = None
            if kind is not None and stat.S_ISDIR(kind):
                raise IsADirectoryError(f"{target}: Is a directory")
            if kind is not None and not stat.S_ISREG(kind):
                into = os.open(target, os.O_WRONLY)  # a device or a FIFO: written into, never replaced
        temporary = _Temporary(target, _output_mode(info.st_mode)) if into is None else None
        fd = into if into is not None else temporary.fd
        try:
            decompressor = _mornak.Decompressor(_whole_file=True)
            restored = 0
            chunk = bytearray(_CHUNK)
            with memoryview(chunk) as view:
                while not decompressor.eof:
                    n = source.readinto(chunk)
                    data = decompressor.decompress(view[:n]) if n else decompressor.finish()
                    _write_all(fd, data)
                    restored += len(data)
            if temporary is not None:
                temporary.commit(target, replace=named)
            else:
                os.close(into)
        except BaseException:
            if temporary is not None:
                temporary.abort()
            else:
                os.close(into)
            raise
    return restored
