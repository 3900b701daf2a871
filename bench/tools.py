"""The tools the bench times beside mornak and unmornak, and which of them run."""

import shutil
import sys

# label, command (input path appended), or None for mornak itself.
TOOLS = [
    ("mornak", None),
    ("compress -c", ["compress", "-c"]),
    ("gzip -1", ["gzip", "-1", "-c"]),
    ("gzip -6", ["gzip", "-6", "-c"]),
    ("gzip -9", ["gzip", "-9", "-c"]),
    ("bzip2 -9", ["bzip2", "-9", "-c"]),
    ("xz -6", ["xz", "-6", "-c"]),
    ("zstd -1", ["zstd", "-1", "-c", "-q"]),
    ("zstd -3", ["zstd", "-3", "-c", "-q"]),
    ("zstd -19", ["zstd", "-19", "-c", "-q"]),
    ("lz4", ["lz4", "-c", "-q"]),
]

# Restoring: label, how the file to restore is made (None: mornak's .bk), the
# command that restores it (compressed file appended; the restored bytes go
# to a file as standard output), or None for unmornak itself.
RESTORE_TOOLS = [
    ("unmornak", None, None),
    ("compress -d", ["compress", "-c"], ["compress", "-dc"]),
    ("gzip -d", ["gzip", "-6", "-c"], ["gzip", "-dc"]),
    ("bzip2 -d", ["bzip2", "-9", "-c"], ["bzip2", "-dc"]),
    ("xz -d", ["xz", "-6", "-c"], ["xz", "-dc"]),
    ("zstd -d", ["zstd", "-3", "-c", "-q"], ["zstd", "-dc", "-q"]),
    ("lz4 -d", ["lz4", "-c", "-q"], ["lz4", "-dc", "-q"]),
]


def chosen(rows, wanted):
    """The rows of TOOLS or RESTORE_TOOLS whose label is wanted (all when
    `wanted` is None) and whose command is installed; a note for each one
    wanted but missing. The command is each row's last field."""
    kept = []
    for row in rows:
        label, command = row[0], row[-1]
        if wanted and label not in wanted:
            continue
        if command and not shutil.which(command[0]):
            print(f"note: {command[0]} not installed; {label} skipped", file=sys.stderr)
            continue
        kept.append(row)
    return kept
