"""mornak: .bk files in Python, on libmornak.

A .bk file is "book", the content's length (32 bits, little-endian) and the
content as an adaptive code stream (codes 11 to 16 bits wide, a fresh
dictionary whenever compression worsens). The names follow the standard
library's bz2 module:

    compress(data) -> bytes          the whole .bk file for data
    decompress(data) -> bytes        the content of a whole .bk file
    verify(data) -> None             what `unmornak --test` checks
    content_size(data) -> int        the length the header gives
    Compressor, Decompressor         the same in pieces
    open(file, mode) / BkFile        a .bk file as a file object, binary or text
    convert_path(path)               `mornak PATH`: PATH's .bk file beside it
    restore_path(path, output=None)  `unmornak PATH [OUTPUT]`

Damaged data raises BkError (a ValueError) with the library's fault. The
library works with the GIL released and every object holds a lock of its
own, so threads converting different files use different cores; see
examples/convert_folder.py for a whole folder on every core or on a cluster.
"""

from ._errors import BkError
from . import _mornak
from ._mornak import Compressor, Decompressor, compress, content_size, decompress, verify
from ._file import BkFile, open
from ._paths import bk_name, convert_path, restore_path

__version__ = _mornak.__version__
MAX_INPUT = _mornak.MAX_INPUT  # the most bytes a .bk file holds: 2,147,483,647

__all__ = ["BkError", "BkFile", "Compressor", "Decompressor", "MAX_INPUT", "bk_name", "compress", "content_size",
           "convert_path", "decompress", "open", "restore_path", "verify"]

for _name in ("BkError", "BkFile"):  # shown as mornak.X in reprs and tracebacks
    globals()[_name].__module__ = __name__
