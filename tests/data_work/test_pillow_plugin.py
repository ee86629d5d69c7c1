"""The Pillow plug-in: Image.open, draft to the coarsest sufficient scale, thumbnails."""

import io

import numpy as np
from PIL import Image

import kavel.pillow  # noqa: F401 (registers the plug-in)
from conftest import reference


def test_open_and_load(files):
    with Image.open(files["colour"]) as picture:
        assert (picture.format, picture.mode, picture.size) == ("KAVEL", "RGB", (512, 512))
        assert np.array_equal(np.asarray(picture), reference(files["colour"]))
    data = files["grey"].read_bytes()
    with Image.open(io.BytesIO(data)) as picture:
        assert picture.mode == "L"
        assert np.array_equal(np.asarray(picture), reference(files["grey"]))


def test_draft_picks_the_coarsest_sufficient_scale(files):
    with Image.open(files["colour"]) as picture:
        mode, box = picture.draft("RGB", (100, 90))
        assert picture.size == (128, 128)  # scale 2: 64 x 64 would be too small
        assert mode == "RGB" and box == (0, 0, 128, 128)
        assert np.array_equal(np.asarray(picture), reference(files["colour"], 2))
    with Image.open(files["colour"]) as picture:
        assert picture.draft("RGB", (600, 600)) is None
        assert picture.size == (512, 512)


def test_thumbnail(files):
    with Image.open(files["colour"]) as picture:
        picture.thumbnail((64, 48))
        assert picture.size == (48, 48)
        thumbnail = np.asarray(picture).astype(int)
    # Made from a small scale, it looks like the full image shrunk.
    with Image.open(files["colour"]) as picture:
        full = np.asarray(picture.convert("RGB").resize((48, 48), Image.LANCZOS)).astype(int)
    assert np.abs(thumbnail - full).mean() < 10
