"""BkFile: a .bk file read or written as a binary file object, and open()."""

import bisect
import builtins
import io
import mmap
import os
import threading

from . import _mornak
from ._errors import BkError

__all__ = ["BkFile", "open"]

_READ_SIZE = 128 * 1024  # .bk bytes read from the underlying file at a time
_BUFFER_SIZE = 128 * 1024  # content bytes a reading BkFile buffers
# A seek forward by more than this restores from the restart point nearest
# the target, when one lies past the current place: restoring runs at about
# a gigabyte a second, so shorter skips are cheaper read through.
_FAR = 8 * 1024 * 1024
_HEADER_BYTES = 8
_STREAM_START = (8 * _HEADER_BYTES, 0)  # the first restart point: (bk_bit, content_offset)


class _Reader(io.RawIOBase):
    """The content of a .bk file, restored as it is read; seeks restore from the nearest restart point."""

    def __init__(self, fp):
        self._fp = fp
        self._seekable = bool(getattr(fp, "seekable", lambda: False)())
        self._start = fp.tell() if self._seekable else 0  # where the .bk file begins in fp
        self._points = None  # the restart points, found at the first seek that needs them
        self._header = None
        self._size = None
        self._restart(_STREAM_START)

    def readable(self):
        return True

    def seekable(self):
        return self._seekable

    def _restart(self, point):
        bk_bit, offset = point
        self._decompressor = _mornak.Decompressor(_whole_file=True)
        from_byte = 0  # the stream's start is the file's, header and all
        if point != _STREAM_START:
            self._decompressor._begin_at(self._header, bk_bit, offset)
            from_byte = bk_bit // 8
        if self._seekable:
            self._fp.seek(self._start + from_byte)
        self._pos = offset

    def readinto(self, b):
        with memoryview(b) as view, view.cast("B") as out:
            if len(out) == 0:
                return 0
            decompressor = self._decompressor
            while not decompressor.eof:
                if decompressor.needs_input:
                    chunk = self._fp.read(_READ_SIZE)
                    if chunk:
                        data = decompressor.decompress(chunk, len(out))
                    else:
                        data = decompressor.finish(len(out))
                else:
                    data = decompressor.decompress(b"", len(out))
                if data:
                    out[: len(data)] = data
                    self._pos += len(data)
                    return len(data)
            return 0

    def tell(self):
        return self._pos

    def _read_header(self):
        if self._header is None:
            at = self._fp.tell()
            self._fp.seek(self._start)
            header = self._fp.read(_HEADER_BYTES)
            self._fp.seek(at)
            self._size = _mornak.content_size(header)
            self._header = header

    def _nearest_point(self, target):
        if self._points is None:
            at = self._fp.tell()
            try:
                self._points = self._find_points()
            except (BkError, OSError, ValueError):
                # Damaged, or not to be mapped: from the start, where reading meets the damage.
                self._points = [_STREAM_START]
            self._fp.seek(at)
        k = bisect.bisect_right(self._points, target, key=lambda point: point[1]) - 1
        return self._points[max(k, 0)]

    def _find_points(self):
        try:
            fileno = self._fp.fileno()
        except (AttributeError, OSError, io.UnsupportedOperation):
            fileno = None
        if fileno is not None and self._start == 0:
            with mmap.mmap(fileno, 0, access=mmap.ACCESS_READ) as whole:
                return [tuple(point) for point in _mornak.index(whole)]
        self._fp.seek(self._start)
        return [tuple(point) for point in _mornak.index(self._fp.read())]

    def seek(self, offset, whence=io.SEEK_SET):
        if not self._seekable:
            raise io.UnsupportedOperation("the underlying file is not seekable")
        self._read_header()
        if whence == io.SEEK_SET:
            target = offset
        elif whence == io.SEEK_CUR:
            target = self._pos + offset
        elif whence == io.SEEK_END:
            target = self._size + offset
        else:
            raise ValueError(f"invalid whence ({whence}, should be 0, 1 or 2)")
        if target < 0:
            raise ValueError(f"negative seek position {target}")
        if target < self._pos or target - self._pos > _FAR:
            point = self._nearest_point(target)
            if target < self._pos or point[1] > self._pos:
                self._restart(point)
        # Read up to the target; past the end, stay at the end.
        scratch = bytearray(min(_BUFFER_SIZE, max(target - self._pos, 1)))
        while self._pos < target:
            with memoryview(scratch) as view:
                if self.readinto(view[: min(len(scratch), target - self._pos)]) == 0:
                    break
        return self._pos


class BkFile(io.BufferedIOBase):
    """A .bk file as a binary file object, as bz2.BZ2File is for .bz2 files.

    BkFile(file, mode="r", *, size=None): file is a path (str, bytes or
    os.PathLike) or a binary file object; mode is "r"/"rb" to read the
    content, "w"/"wb" to write a new .bk file (replacing any), "x"/"xb" to
    make one that must not exist yet.

    Reading restores as it goes; seek restores from the nearest restart
    point behind the target (a fresh dictionary of the stream) rather than
    from the start, and tell is exact. A damaged file raises BkError where
    restoring meets the damage: bytes read before that are not the file's.

    Writing: size, when given, is the exact number of bytes that will be
    written, and the file object need not be seekable. Without it the header
    is put in place at close, so a file object must be seekable (ValueError
    at construction otherwise, before anything is written).
    """

    def __init__(self, file, mode="r", *, size=None):
        # Writes and close one at a time: a write's .bk bytes must reach the file in the order the encoder
        # made them. Reading needs none of its own: the buffered reader has its lock.
        self._lock = threading.RLock()
        self._fp = None
        self._closefp = False
        if mode in ("r", "rb"):
            mode_code = "rb"
        elif mode in ("w", "wb", "x", "xb"):
            mode_code = mode[0] + "b"
        else:
            raise ValueError(f"invalid mode: {mode!r}")
        if size is not None and mode_code == "rb":
            raise ValueError("size is for writing")
        if isinstance(file, (str, bytes, os.PathLike)):
            fp = builtins.open(file, mode_code)
            closefp = True
        elif hasattr(file, "read" if mode_code == "rb" else "write"):
            fp = file
            closefp = False
        else:
            raise TypeError("file must be a str, bytes or os.PathLike object, or a file object")
        try:
            if mode_code == "rb":
                self._buffer = io.BufferedReader(_Reader(fp), buffer_size=_BUFFER_SIZE)
                self._compressor = None
            else:
                appending = "a" in getattr(fp, "mode", "")  # a write there ignores a seek back to the header
                if size is None and (appending or not (hasattr(fp, "seekable") and fp.seekable())):
                    raise ValueError("writing a .bk file of unknown size needs a seekable file not opened for "
                                     "appending (its header is written at close); give size= to write to this one")
                self._compressor = _mornak.Compressor(size)
                self._header_at = fp.tell() if size is None else None
                self._buffer = None
                self._written = 0
        except BaseException:
            if closefp:
                fp.close()
            raise
        self._fp = fp
        self._closefp = closefp
        self._mode = "rb" if mode_code == "rb" else "wb"

    @property
    def name(self):
        return self._fp.name

    @property
    def mode(self):
        return self._mode

    @property
    def closed(self):
        return self._fp is None

    def close(self):
        with self._lock:
            self._close()

    def _close(self):
        if self._fp is None:
            return
        try:
            if self._compressor is not None:
                self._fp.write(self._compressor.flush())
                if self._header_at is not None:
                    end = self._fp.tell()
                    self._fp.seek(self._header_at)
                    self._fp.write(self._compressor.header)
                    self._fp.seek(end)
            elif self._buffer is not None:
                self._buffer.close()
        finally:
            try:
                if self._closefp:
                    self._fp.close()
            finally:
                self._fp = None
                self._buffer = None
                self._compressor = None

    def _check(self, reading):
        if self._fp is None:
            raise ValueError("I/O operation on closed file")
        if reading and self._buffer is None:
            raise io.UnsupportedOperation("File not open for reading")
        if not reading and self._compressor is None:
            raise io.UnsupportedOperation("File not open for writing")

    def fileno(self):
        self._check(self._buffer is not None)
        return self._fp.fileno()

    def readable(self):
        return self._fp is not None and self._buffer is not None

    def writable(self):
        return self._fp is not None and self._compressor is not None

    def seekable(self):
        return self.readable() and self._buffer.seekable()

    def read(self, size=-1):
        self._check(True)
        return self._buffer.read(size)

    def read1(self, size=-1):
        self._check(True)
        if size < 0:
            size = _BUFFER_SIZE
        return self._buffer.read1(size)

    def readinto(self, b):
        self._check(True)
        return self._buffer.readinto(b)

    def readline(self, size=-1):
        self._check(True)
        return self._buffer.readline(size)

    def peek(self, n=0):
        self._check(True)
        return self._buffer.peek(n)

    def __iter__(self):
        self._check(True)
        return self

    def __next__(self):
        line = self.readline()
        if not line:
            raise StopIteration
        return line

    def write(self, data):
        with self._lock:
            self._check(False)
            with memoryview(data) as view:
                length = view.nbytes
            self._fp.write(self._compressor.compress(data))
            self._written += length
            return length

    def seek(self, offset, whence=io.SEEK_SET):
        self._check(True)
        if not self._buffer.seekable():
            raise io.UnsupportedOperation("the underlying file is not seekable")
        return self._buffer.seek(offset, whence)

    def tell(self):
        self._check(self._buffer is not None)
        return self._buffer.tell() if self._buffer is not None else self._written


def open(file, mode="rb", *, encoding=None, errors=None, newline=None):
    """Opens a .bk file in binary or text mode, as bz2.open does.

    mode: "r", "rb", "w", "wb", "x" or "xb" for binary, "rt", "wt" or "xt" for
    text (through io.TextIOWrapper, with encoding, errors and newline).
    file: a path (str, bytes or os.PathLike) or a file object.
    """
    if "t" in mode:
        if "b" in mode:
            raise ValueError(f"invalid mode: {mode!r}")
    else:
        if encoding is not None:
            raise ValueError("argument 'encoding' not supported in binary mode")
        if errors is not None:
            raise ValueError("argument 'errors' not supported in binary mode")
        if newline is not None:
            raise ValueError("argument 'newline' not supported in binary mode")
    binary = BkFile(file, mode.replace("t", ""))
    if "t" in mode:
        encoding = io.text_encoding(encoding)
        return io.TextIOWrapper(binary, encoding, errors, newline)
    return binary
