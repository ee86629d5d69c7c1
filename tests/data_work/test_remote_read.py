"""Remote reading: a Kavel file served over HTTP with byte ranges by a local server started
and stopped here, read through GDAL's /vsicurl/ by gdal_translate. A small window must come
out as the local decode does, fetching each part of the file at most once. (How small a part
of a large file a window fetches is measured by bench/remote/measure_remote.py.)"""

import os
import subprocess

import numpy as np
import pytest

from conftest import reference, run_tool
from range_server import RangeServer
from test_gdal_driver import read_array

SIZE = 2048  # large enough that a window is a small part of the file, quick to encode


def synthetic_picture(path, size):
    """A colour picture with detail at every scale (waves, a pattern and noise) as PPM."""
    y, x = np.mgrid[0:size, 0:size].astype(np.float32)
    rng = np.random.default_rng(1)
    red = 128 + 100 * np.sin(x / 37) * np.cos(y / 53) + rng.normal(0, 12, (size, size))
    green = 128 + 90 * np.sin((x + y) / 71) + rng.normal(0, 12, (size, size))
    blue = (x.astype(np.int32) ^ y.astype(np.int32)) % 256 * 0.5 + rng.normal(0, 8, (size, size))
    pixels = np.dstack([red, green, blue]).clip(0, 255).astype(np.uint8)
    with open(path, "wb") as f:
        f.write(b"P6 %d %d 255\n" % (size, size) + pixels.tobytes())


BLOCK = 16384


def gdal_environment():
    environment = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    environment.update(GDAL_DISABLE_READDIR_ON_OPEN="EMPTY_DIR", GDAL_HTTP_TIMEOUT="10",
                       GDAL_HTTP_MAX_RETRY="0", CPL_VSIL_CURL_CACHE_SIZE="0", NO_PROXY="*")
    return environment


def test_window_of_a_remote_file_matches_the_local_decode(tmp_path):
    picture = tmp_path / "big.ppm"
    synthetic_picture(picture, SIZE)
    big = tmp_path / "big.kvl"
    run_tool("encode", picture, big, "--step", 17)  # about 1 bit per pixel
    picture.unlink()
    file_size = big.stat().st_size
    window = (1200, 700, 1455, 955)  # 256 x 256
    out = tmp_path / "window.tif"

    with RangeServer(tmp_path) as server:
        result = subprocess.run(
            ["gdal_translate", "-q", "-srcwin",
             str(window[0]), str(window[1]), "256", "256", "/vsicurl/" + server.url("big.kvl"),
             str(out)],
            capture_output=True, text=True, timeout=120, env=gdal_environment())
        assert result.returncode == 0, result.stderr
        requests, served, ranges = server.requests, server.bytes_served, list(server.ranges)

    got = read_array(out)
    assert np.array_equal(got, reference(big, 0, window))
    line = (f"remote 256 x 256 window of a {SIZE} x {SIZE} colour file of {file_size} bytes: "
            f"{served} bytes served ({100 * served / file_size:.1f} %) in {requests} requests")
    print(line)
    with open("remote_read.log", "a") as log:  # in the test's working folder
        log.write(line + "\n")
    # The library hands the driver the ranges of each step of the decode (header and
    # directories, stream starts, offset rows, blocks), each step in one call, and the driver
    # fetches them as they are: a few requests, no byte fetched twice (beyond the first block,
    # which GDAL reads again as it opens the file).
    # (Reading the file in 16 KB blocks as the decode asked for them took 23 requests and
    # three quarters of this file; 11 requests and 30 % now.)
    later = sorted((first, last) for first, last in ranges if last >= BLOCK)
    for (_, last), (first, _) in zip(later, later[1:]):
        assert first > last, "a byte was fetched twice"
    assert requests <= 16
    assert served < 0.4 * file_size
