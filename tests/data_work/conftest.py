"""Shared fixtures of the GDAL and Python tests: Kavel files made with the kavel tool from the
project's test photographs, and reference decodes by `kavel decode`.

Environment (set by CTest): KAVEL_TOOL (the kavel program), KAVEL_TEST_DATA (the project's
data/ folder), GDAL_DRIVER_PATH (where gdal_KAVEL.so is), PYTHONPATH (the built package).
"""

import json
import os
import subprocess

import numpy as np
import pytest

TOOL = os.environ.get("KAVEL_TOOL", "kavel")
DATA = os.environ.get("KAVEL_TEST_DATA", os.path.join(os.path.dirname(__file__), "../../data"))


def run_tool(*args):
    result = subprocess.run([TOOL, *map(str, args)], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return result


def info(path):
    """planes, levels, width and height of path, by `kavel info --json`."""
    return json.loads(run_tool("info", "--json", path).stdout)


def reference(path, scale=0, window=None):
    """`kavel decode` of path at scale (window inclusive; default the whole image) as an array
    of (rows, columns) or (rows, columns, 3)."""
    out = f"{path}.s{scale}.{'_'.join(map(str, window or ()))}.raw"
    args = [path, "-o", out, "--scale", scale]
    if window is not None:
        args += ["--window", ",".join(map(str, window))]
    run_tool("decode", *args)
    header = info(path)
    if window is not None:
        columns = window[2] - window[0] + 1
    else:
        columns = -(-header["width"] // 2**scale)
    shape = (-1, columns, 3) if header["planes"] == 3 else (-1, columns)
    return np.fromfile(out, np.uint8).reshape(shape)


@pytest.fixture(scope="session")
def files(tmp_path_factory):
    """colour: astronaut.png (512 x 512, 4 levels, 1 bpp); grey: camera.png (512 x 512)."""
    folder = tmp_path_factory.mktemp("kavel")
    made = {}
    for name, source, options in [
        ("colour", "astronaut.png", ["--bpp", "1"]),
        ("grey", "camera.png", ["--quality", "75"]),
    ]:
        path = folder / f"{name}.kvl"
        run_tool("encode", os.path.join(DATA, source), path, *options)
        made[name] = path
    made["folder"] = folder
    return made
