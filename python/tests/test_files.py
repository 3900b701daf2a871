"""Files: mornak.open in every mode, seeking, the programs' jobs on paths, and a folder on a Dask cluster."""

import io
import os
import subprocess
import sys

import pytest

import mornak
from conftest import INPUTS, ROOT, run_mornak, text_like

CONTENT = INPUTS["random_then_text"] + text_like(3_000_000, 9)  # several dictionaries, so restart points


class OneWay(io.RawIOBase):
    """A pipe-like file object: written or read in order, never seeked."""

    def __init__(self, data=b""):
        self.data, self.at = bytearray(data), 0

    def writable(self):
        return True

    def readable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)

    def readinto(self, b):
        n = min(len(b), len(self.data) - self.at)
        b[:n] = self.data[self.at:self.at + n]
        self.at += n
        return n


@pytest.mark.parametrize("mode,reading_mode,kwargs,content", [
    ("wb", "rb", {}, INPUTS["text"]),
    ("xb", "r", {}, INPUTS["random"]),
    ("w", "rb", {}, b""),
    ("wt", "rt", {"encoding": "utf-8"}, "Ünïcödé lines\nand more\n" * 1000),
    ("xt", "rt", {"encoding": "latin-1", "newline": ""}, "crlf kept\r\n" * 100),
], ids=["wb", "xb", "w empty", "wt utf-8", "xt newline kept"])
def test_open_writes_the_one_shot_file_and_reads_it_back(tmp_path, mode, reading_mode, kwargs, content):
    path = tmp_path / "file.bk"
    with mornak.open(path, mode, **kwargs) as f:
        f.write(content[:10])
        f.write(content[10:])
    raw = content if isinstance(content, bytes) else content.encode(kwargs["encoding"])
    assert path.read_bytes() == mornak.compress(raw)
    with mornak.open(str(path), reading_mode, **kwargs) as f:
        assert f.read() == content
    if mode.startswith("x"):
        with pytest.raises(FileExistsError):
            mornak.open(path, mode, **kwargs)


def test_a_writer_that_cannot_seek_needs_the_size_before_anything_is_written():
    sink = OneWay()
    with pytest.raises(ValueError, match="seekable"):
        mornak.BkFile(sink, "wb")
    assert sink.data == b""
    with mornak.BkFile(sink, "wb", size=len(INPUTS["text"])) as f:
        f.write(INPUTS["text"])
    assert bytes(sink.data) == mornak.compress(INPUTS["text"])
    with mornak.BkFile(OneWay(sink.data)) as f:  # read in order without seeking
        assert f.read() == INPUTS["text"] and not f.seekable()
    with open(os.devnull, "ab") as appending, pytest.raises(ValueError, match="appending"):
        mornak.BkFile(appending, "wb")  # a write there ignores the seek back to the header


@pytest.fixture(scope="module")
def big_bk(tmp_path_factory):
    path = tmp_path_factory.mktemp("big") / "big.bk"
    path.write_bytes(mornak.compress(CONTENT))
    return path


@pytest.mark.parametrize("opener", [lambda path: mornak.open(path), lambda path: mornak.BkFile(io.BytesIO(path.read_bytes()))],
                         ids=["mapped file", "file object"])
def test_seek_and_tell_land_on_the_content(big_bk, opener):
    end = len(CONTENT)
    # (offset, whence, where it lands), each followed by a read of 5000 bytes: far ahead, back, from the end,
        # past it, ahead from where the read left off.
    steps = [(3_000_000, 0, 3_000_000), (10, 0, 10), (-100, 2, end - 100), (1_000_000, 1, end), (end + 7, 0, end),
             (123_457, 0, 123_457), (2_500_000, 1, 2_628_457), (0, 0, 0)]
    with opener(big_bk) as f:
        for offset, whence, lands in steps:
            assert f.seek(offset, whence) == lands
            assert f.read(5000) == CONTENT[lands:lands + 5000]
            assert f.tell() == min(lands + 5000, end)
        f.seek(end - 300_000)
        assert f.readline() == CONTENT[end - 300_000:CONTENT.index(b"\n", end - 300_000) + 1]
        at = f.tell()
        assert f.peek(1)[:1] == CONTENT[at:at + 1]
        assert b"".join(f) == CONTENT[at:]


def test_a_cut_file_reads_up_to_the_cut_then_raises_the_librarys_fault(tmp_path):
    bk = mornak.compress(INPUTS["text"])[:-20]
    path = tmp_path / "cut.bk"
    path.write_bytes(bk)
    with mornak.open(path) as f:
        assert f.read(1000) == INPUTS["text"][:1000]
        with pytest.raises(mornak.BkError) as raised:
            f.read()
    assert (raised.value.status, raised.value.at_byte) == ("MORNAK_ERROR_NO_END_CODE", len(bk))


@pytest.mark.parametrize("name,bk_name,umask", [
    ("story.txt", "story.bk", 0o022), ("a.b.c", "a.b.bk", 0o022), (".profile", ".profile.bk", 0o022),
    ("old.dir/readme", "old.dir/readme.bk", 0o022), ("story.", "story.bk", 0o077),
    ("n" * 250 + ".txt", "n" * 250 + ".bk", 0o002)])
def test_convert_path_and_restore_path_do_the_programs_jobs(tmp_path, programs, name, bk_name, umask):
    before = os.umask(umask)
    try:
        _convert_and_restore(tmp_path, programs, name, bk_name)
    finally:
        os.umask(before)


def _convert_and_restore(tmp_path, programs, name, bk_name):
    source = tmp_path / "py" / name
    source.parent.mkdir(parents=True)
    source.write_bytes(INPUTS["text"])
    source.chmod(0o640)
    (tmp_path / "c" / name).parent.mkdir(parents=True)
    (tmp_path / "c" / name).write_bytes(INPUTS["text"])
    run_mornak(programs, tmp_path / "c" / name)
    expected = (tmp_path / "c" / bk_name).read_bytes()

    assert mornak.convert_path(source) == (len(INPUTS["text"]), len(expected))
    target = tmp_path / "py" / bk_name
    assert target.read_bytes() == expected
    assert target.stat().st_mode & 0o777 == 0o640 & ~_umask()
    restored = target.with_name(target.name[:-3])
    if restored.exists():  # the default name is taken by the input itself
        with pytest.raises(FileExistsError):
            mornak.restore_path(target)
        restored.unlink()
    assert mornak.restore_path(target) == len(INPUTS["text"])
    assert restored.read_bytes() == INPUTS["text"]
    assert set(os.listdir(target.parent)) == {source.name, target.name, restored.name}  # no temporary left
    assert mornak.restore_path(target, os.devnull) == len(INPUTS["text"])  # a device is written into, not replaced


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


@pytest.mark.parametrize("case,error", [
    ("bk name is the input", ValueError),
    ("a folder", ValueError),
    ("not a .bk name", ValueError),
    ("damaged", mornak.BkError),
    ("output is a folder", IsADirectoryError),
    ("a FIFO", ValueError),
])
def test_path_jobs_refuse_and_leave_nothing_behind(tmp_path, case, error):
    (tmp_path / "x.bk").write_bytes(mornak.compress(b"x"))
    (tmp_path / "d.bk").write_bytes(mornak.compress(INPUTS["text"])[:-9])
    (tmp_path / "folder").mkdir()
    os.mkfifo(tmp_path / "fifo.txt")  # opening it to read would wait for a writer
    before = sorted(os.listdir(tmp_path))
    jobs = {"bk name is the input": lambda: mornak.convert_path(tmp_path / "x.bk"),
            "a folder": lambda: mornak.convert_path(tmp_path / "folder"),
            "not a .bk name": lambda: mornak.restore_path(tmp_path / "folder"),
            "damaged": lambda: mornak.restore_path(tmp_path / "d.bk"),
            "output is a folder": lambda: mornak.restore_path(tmp_path / "x.bk", tmp_path / "folder"),
            "a FIFO": lambda: mornak.convert_path(tmp_path / "fifo.txt")}
    with pytest.raises(error):
        jobs[case]()
    assert sorted(os.listdir(tmp_path)) == before


def test_the_folder_example_on_a_dask_cluster_makes_the_programs_files(tmp_path, programs):
    pytest.importorskip("distributed", reason="Debian's python3-distributed runs the example on a cluster")
    tree = tmp_path / "tree"
    for k in range(12):
        path = tree / f"part{k % 3}" / f"file{k}.txt"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(text_like(20_000 * (k + 1), k))
    copy = tmp_path / "copy"
    subprocess.run(["cp", "-a", tree, copy], check=True)
    result = subprocess.run([sys.executable, ROOT / "examples/convert_folder.py", tree, "--dask", "--workers", "2"],
                            capture_output=True, text=True, timeout=300,
                            env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("12 files converted")
    for path in sorted(copy.rglob("*.txt")):
        run_mornak(programs, path)
        ours = tree / path.relative_to(copy).with_suffix(".bk")
        assert ours.read_bytes() == path.with_suffix(".bk").read_bytes()
