"""The Python package kavel: reads equal `kavel decode`, every kind of source, decoding
without the GIL, errors with the library's reasons, and writing files."""

import io
import os
import pathlib
import threading

import numpy as np
import pytest

import kavel
from conftest import DATA, reference, run_tool


def test_header_and_sizes(files):
    image = kavel.open(files["colour"])
    assert (image.width, image.height, image.planes, image.levels) == (512, 512, 3, 4)
    assert image.size_at(0) == (512, 512)
    assert image.size_at(3) == (64, 64)
    assert image.scale_for_size(100, 100) == 2  # 128 x 128 is the coarsest >= 100 x 100
    assert image.scale_for_size(600, 10) == 0


@pytest.mark.parametrize("kind", ["colour", "grey"])
def test_reads_equal_kavel_decode(files, kind):
    image = kavel.open(files[kind])
    whole = image.read(scale=1)
    assert whole.dtype == np.uint8
    assert whole.shape == ((256, 256, 3) if kind == "colour" else (256, 256))
    assert np.array_equal(whole, reference(files[kind], 1))
    # A window inside, and one reaching beyond the image (its outside is 0).
    for scale, window in [(0, (37, 300, 236, 411)), (2, (100, -5, 140, 20))]:
        got = image.read(scale=scale, window=window)
        assert np.array_equal(got, reference(files[kind], scale, window)), (scale, window)
    assert np.array_equal(image.read(window=(0, 0, 511, 511), threads=2), image.read())


def test_every_source_kind_reads_the_same(files):
    path = files["colour"]
    data = path.read_bytes()
    window = (200, 150, 327, 277)
    expected = kavel.open(str(path)).read(window=window)
    sources = {
        "pathlib": lambda: pathlib.Path(path),
        "bytes": lambda: data,
        "bytearray": lambda: bytearray(data),
        "memoryview": lambda: memoryview(data)[0:],
        "numpy": lambda: np.frombuffer(data, np.uint8),
        "file": lambda: open(path, "rb"),
        "BytesIO": lambda: io.BytesIO(data),
    }
    for name, make in sources.items():
        image = kavel.open(make())  # the source's only reference is the image's
        assert np.array_equal(image.read(window=window), expected), name
        assert np.array_equal(image.read(window=window, threads=2), expected), name
    with pytest.raises(TypeError):
        kavel.open(12345)


def test_several_threads_read_one_file_object_image(files):
    image = kavel.open(io.BytesIO(files["colour"].read_bytes()))
    expected = kavel.open(files["colour"]).read(scale=1)
    results = [None] * 4

    def work(i):
        results[i] = image.read(scale=1, threads=2)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(60)
    assert all(r is not None and np.array_equal(r, expected) for r in results)


def test_decoding_releases_the_gil(files):
    # While one thread decodes, Python code in another runs: with the GIL held the counter
    # could not move until the decode ended. Timing-free, so it holds on a busy machine.
    image = kavel.open(files["colour"])
    done = threading.Event()
    ticks_during = []

    def decode():
        for _ in range(20):
            image.read()
        done.set()

    thread = threading.Thread(target=decode)
    thread.start()
    ticks = 0
    while not done.is_set():
        ticks += 1
    thread.join()
    ticks_during.append(ticks)
    assert ticks > 1000


def test_errors_carry_the_reason(files, tmp_path):
    with pytest.raises(kavel.FileError) as raised:
        kavel.open(tmp_path / "missing.kvl")
    assert isinstance(raised.value, OSError) and raised.value.reason

    with pytest.raises(kavel.NotKavelError) as raised:
        kavel.open(b"GIF89a" + bytes(100))
    assert raised.value.reason and raised.value.status == 2

    data = files["colour"].read_bytes()
    with pytest.raises(kavel.Error) as raised:
        kavel.open(data[: len(data) // 3]).read()
    assert type(raised.value) is not kavel.Error and raised.value.reason

    image = kavel.open(files["colour"])
    with pytest.raises(kavel.ArgumentError, match="scale"):
        image.read(scale=9)
    with pytest.raises(ValueError):  # ArgumentError is a ValueError too
        image.read(window=(10, 10, 5, 20))
    with pytest.raises(kavel.ArgumentError):
        image.read(threads=0)

    class Failing(io.BytesIO):  # a file that cannot be read beyond its first 100 bytes
        def read(self, size=-1):
            if size < 0 or self.tell() + size > 100:
                raise OSError("disk gone")
            return super().read(size)

    with pytest.raises(kavel.FileError):
        kavel.open(Failing(data)).read()

    image.close()
    with pytest.raises(kavel.ArgumentError, match="closed"):
        image.read()
    with kavel.open(files["grey"]) as image:
        assert image.read(scale=4).shape == (32, 32)
    assert "closed" in repr(image)


def test_encode_writes_what_kavel_encode_writes(tmp_path):
    rng = np.random.default_rng(7)
    picture = (np.add.outer(np.arange(96), np.arange(160)) % 256).astype(np.uint8)
    picture = np.dstack([picture, picture[::-1], rng.integers(0, 256, picture.shape, np.uint8)])
    ppm = tmp_path / "picture.ppm"
    ppm.write_bytes(b"P6 160 96 255\n" + picture.tobytes())
    expected = tmp_path / "expected.kvl"
    run_tool("encode", ppm, expected, "--quality", 85, "--levels", 2)

    out = tmp_path / "out.kvl"
    size = kavel.encode(picture, out, quality=85, levels=2)  # a pathlib path
    assert out.read_bytes() == expected.read_bytes() and size == out.stat().st_size

    # Grey, from a non-contiguous view, and at a target rate.
    grey = np.ascontiguousarray(picture[:, :, 0])
    kavel.encode(picture[:, :, 0], str(tmp_path / "a.kvl"), bpp=2)
    kavel.encode(grey, str(tmp_path / "b.kvl"), bpp=2)
    assert (tmp_path / "a.kvl").read_bytes() == (tmp_path / "b.kvl").read_bytes()
    assert kavel.open(tmp_path / "a.kvl").planes == 1

    with pytest.raises(kavel.ArgumentError, match="uint8"):
        kavel.encode(picture.astype(np.float32), str(tmp_path / "x.kvl"))
    with pytest.raises(kavel.ArgumentError, match="1 or 3"):
        kavel.encode(np.zeros((8, 8, 4), np.uint8), str(tmp_path / "x.kvl"))
    with pytest.raises(kavel.ArgumentError, match="only one"):
        kavel.encode(grey, str(tmp_path / "x.kvl"), quality=50, bpp=1)
    with pytest.raises(kavel.EncodeError, match="levels"):
        kavel.encode(grey, str(tmp_path / "x.kvl"), levels=12)
    with pytest.raises(kavel.EncodeError, match="no-such-folder"):
        kavel.encode(grey, str(tmp_path / "no-such-folder" / "x.kvl"))
    assert not (tmp_path / "x.kvl").exists()
