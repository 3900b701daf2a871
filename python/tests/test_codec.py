"""The calls on bytes: round trips in any pieces, equal to the programs' files; damage as the library's faults."""

import subprocess
import sys
import threading

import pytest
from hypothesis import given, settings, strategies as st

import mornak
from conftest import INPUTS, damaged_rows, run_mornak

ANY_BYTES = st.binary(max_size=3000) | st.builds(lambda n, b: b * n, st.integers(1, 3000), st.binary(min_size=1, max_size=5))


def cuts(data, sizes):
    """data in pieces of the given sizes (at least 1), cycling."""
    pieces, at, k = [], 0, 0
    while at < len(data):
        size = sizes[k % len(sizes)]
        pieces.append(data[at:at + size])
        at, k = at + size, k + 1
    return pieces


def compress_in_pieces(data, sizes, size_known):
    compressor = mornak.Compressor(len(data) if size_known else None)
    out = b"".join(compressor.compress(piece) + compressor.compress(b"") for piece in cuts(data, sizes))
    out += compressor.flush()
    return out if size_known else compressor.header + out[8:]


def decompress_in_pieces(bk, sizes, max_length):
    """What a Decompressor restores from bk in pieces, and what it leaves: its unused_data, then the pieces not given."""
    decompressor, out, pieces, k = mornak.Decompressor(), [], cuts(bk, sizes), 0
    while not decompressor.eof:
        if not decompressor.needs_input:
            out.append(decompressor.decompress(b"", max_length))
        elif k < len(pieces):
            out.append(decompressor.decompress(pieces[k], max_length))
            k += 1
        else:
            out.append(decompressor.finish(max_length))
    return b"".join(out), decompressor.unused_data + b"".join(pieces[k:])


@pytest.mark.parametrize("name", INPUTS)
def test_every_row_is_the_programs_file_and_restores_whole(name, programs, tmp_path):
    data = INPUTS[name]
    (tmp_path / "in.txt").write_bytes(data)
    run_mornak(programs, tmp_path / "in.txt")
    bk = (tmp_path / "in.bk").read_bytes()
    assert mornak.compress(data) == bk
    assert mornak.compress(bytearray(data)) == bk and mornak.compress(memoryview(data)) == bk
    assert compress_in_pieces(data, [65536], size_known=False) == bk
    assert mornak.decompress(bk) == data
    assert decompress_in_pieces(bk, [65536], -1)[0] == data
    assert mornak.content_size(bk) == len(data)
    mornak.verify(bk)


@settings(max_examples=60, deadline=None)
@given(data=ANY_BYTES, sizes=st.lists(st.integers(1, 700), min_size=1, max_size=5), size_known=st.booleans(),
       max_length=st.sampled_from([-1, 1, 5, 1000, sys.maxsize]), after=st.binary(max_size=20))
def test_any_bytes_in_any_pieces_give_the_one_shot_results(data, sizes, size_known, max_length, after):
    bk = mornak.compress(data)
    assert compress_in_pieces(data, sizes, size_known) == bk
    assert decompress_in_pieces(bk + after, sizes, max_length) == (data, after)
    assert mornak.decompress(bk) == data


@pytest.mark.parametrize("file,restoring,checking,words", damaged_rows())
def test_damaged_files_raise_the_librarys_fault(file, restoring, checking, words):
    status = restoring[0]
    if status == "MORNAK_OK":
        assert len(mornak.decompress(file)) == restoring[3]
    else:
        with pytest.raises(mornak.BkError) as raised:
            mornak.decompress(file)
        error = raised.value
        assert (error.status, error.at_byte, error.code, error.restored) == restoring
        assert str(error) == words
        assert isinstance(error, ValueError)
    # In pieces, a stream stops at its end: bytes after it are the caller's, not a fault.
    if status == "MORNAK_ERROR_TRAILING_BYTES":
        assert decompress_in_pieces(file, [3], 2)[1] == file[restoring[1]:]
    elif status != "MORNAK_OK":
        with pytest.raises(mornak.BkError) as raised:
            decompress_in_pieces(file, [3], 2)
        assert (raised.value.status, raised.value.at_byte) == restoring[:2]
    if checking[0] == "MORNAK_OK":
        mornak.verify(file)
    else:
        with pytest.raises(mornak.BkError) as raised:
            mornak.verify(file)
        assert (raised.value.status, raised.value.at_byte) == checking


@settings(max_examples=150, deadline=None)
@given(seed=st.data())
def test_random_damage_fails_alike_in_one_piece_and_in_many(seed):
    """Never a crash or another exception: the same bytes or the same fault however the file is given."""
    bk = bytearray(mornak.compress(INPUTS["text"][:20000]))
    for _ in range(seed.draw(st.integers(1, 4))):
        at = seed.draw(st.integers(0, len(bk) - 1))
        bk[at] = seed.draw(st.integers(0, 255))
    bk = bk[:seed.draw(st.integers(0, len(bk)))] if seed.draw(st.booleans()) else bk

    def outcome(call):
        try:
            return call()
        except mornak.BkError as error:
            return (error.status, error.at_byte, error.code, error.restored)

    whole = outcome(lambda: mornak.decompress(bytes(bk)))
    pieces = outcome(lambda: decompress_in_pieces(bytes(bk), [seed.draw(st.integers(1, 5000))], -1)[0])
    if isinstance(whole, tuple) and whole[0] == "MORNAK_ERROR_TRAILING_BYTES":
        # In pieces the stream stops at its end: what is after is left, and the stream is judged alone.
        assert pieces == outcome(lambda: mornak.decompress(bytes(bk[:whole[1]])))
    else:
        assert pieces == whole


@pytest.mark.parametrize("call,argument,error", [
    (mornak.compress, "text", TypeError),
    (mornak.decompress, 5, TypeError),
    (mornak.Compressor, -1, ValueError),
    (mornak.Compressor, mornak.MAX_INPUT + 1, ValueError),
    (lambda n: mornak.Compressor(n).flush(), 3, ValueError),
    (lambda n: mornak.Compressor(n).compress(b"abcd"), 3, ValueError),
    (lambda data: mornak.Compressor().header, None, ValueError),
    (lambda data: mornak.Decompressor().finish(data), "5", TypeError),
])
def test_misuse_raises(call, argument, error):
    with pytest.raises(error):
        call(argument)


def test_a_header_claiming_2_gib_of_a_small_file_is_damage_not_a_memory_error():
    """Under a 1 GiB address-space limit: the claim is not allocated before the stream bears it out."""
    bk = b"book" + (2**31 - 1).to_bytes(4, "little") + mornak.compress(INPUTS["text"][:50_000])[8:]
    script = ("import resource, sys, mornak; resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))\n"
              "try:\n    mornak.decompress(sys.stdin.buffer.read())\nexcept mornak.BkError as e:\n    print(e.status)")
    ran = subprocess.run([sys.executable, "-c", script], input=bk, capture_output=True, timeout=60)
    assert ran.stdout.decode().strip() == "MORNAK_ERROR_SHORTER_THAN_HEADER", ran.stderr.decode()


def test_a_stream_after_its_end_raises_eof_error():
    decompressor = mornak.Decompressor()
    assert decompressor.decompress(mornak.compress(b"x") + b"more") == b"x"
    assert decompressor.eof and decompressor.unused_data == b"more"
    with pytest.raises(EOFError):
        decompressor.decompress(b"")


def test_threads_share_objects_and_run_apart():
    """Threads on one Compressor: the calls take turns (which turn a piece's bytes came in is the threads'
    business, so only the bytes are compared); threads on their own data: each gets its own results."""
    compressor, outputs, piece = mornak.Compressor(), [], INPUTS["text"][:1000]

    def feed():
        for _ in range(50):
            outputs.append(compressor.compress(piece))

    def own(name, results):
        results[name] = mornak.decompress(mornak.compress(INPUTS[name]))

    results = {}
    threads = [threading.Thread(target=feed) for _ in range(4)]
    threads += [threading.Thread(target=own, args=(name, results)) for name in INPUTS]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    stream = b"".join(outputs) + compressor.flush()
    assert sorted(compressor.header + stream[8:]) == sorted(mornak.compress(piece * 200))
    assert results == INPUTS
