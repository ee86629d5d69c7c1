"""The GDAL driver plug-in through GDAL's own programs and Python bindings: gdalinfo,
gdal_translate (windows, resampled reads, writing), rasterio, CreateCopy."""

import json
import os
import subprocess

import numpy as np
import pytest

from conftest import DATA, info, reference, run_tool


def gdal(*args):
    result = subprocess.run(list(map(str, args)), capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return result


def translate_to_array(source, out, *options):
    """gdal_translate source to a GeoTIFF, read back as an array (rows, columns[, bands])."""
    gdal("gdal_translate", "-q", *options, source, out)
    return read_array(out)


def read_array(path):
    from osgeo import gdal as ogdal

    data = ogdal.Open(str(path)).ReadAsArray()
    return np.moveaxis(data, 0, -1) if data.ndim == 3 else data


@pytest.mark.parametrize("kind, interpretations", [
    ("colour", ["Red", "Green", "Blue"]),
    ("grey", ["Gray"]),
])
def test_gdalinfo_shows_size_bands_and_one_overview_per_scale(files, kind, interpretations):
    header = info(files[kind])
    report = json.loads(gdal("gdalinfo", "-json", files[kind]).stdout)
    assert report["driverShortName"] == "KAVEL"
    assert report["size"] == [header["width"], header["height"]]
    assert [band["colorInterpretation"] for band in report["bands"]] == interpretations
    for band in report["bands"]:
        assert band["type"] == "Byte"
        assert band["block"] == [256, 256]
        sizes = [overview["size"] for overview in band["overviews"]]
        assert sizes == [[-(-header["width"] // 2**s), -(-header["height"] // 2**s)]
                         for s in range(1, header["levels"] + 1)]


@pytest.mark.parametrize("kind", ["colour", "grey"])
def test_srcwin_is_kavel_decode_window_byte_for_byte(files, tmp_path, kind):
    # One window inside, one reaching the image's right and bottom edges (blocks cut there).
    for x, y, w, h in [(100, 50, 200, 120), (400, 300, 112, 212)]:
        got = translate_to_array(files[kind], tmp_path / f"{kind}{x}.tif",
                                 "-srcwin", x, y, w, h)
        expected = reference(files[kind], 0, (x, y, x + w - 1, y + h - 1))
        assert np.array_equal(got, expected), (x, y, w, h)


def test_band_by_band_reads_match_the_window_decode(files, tmp_path):
    # Band-separate output makes GDAL read band by band through the 256 x 256 blocks.
    got = translate_to_array(files["colour"], tmp_path / "bands.tif", "-co", "INTERLEAVE=BAND",
                             "-srcwin", 200, 200, 300, 300)
    assert np.array_equal(got, reference(files["colour"], 0, (200, 200, 499, 499)))


def test_outsize_quarter_is_scale_2(files, tmp_path):
    got = translate_to_array(files["colour"], tmp_path / "quarter.tif", "-outsize", "25%", "25%")
    assert np.array_equal(got, reference(files["colour"], 2))


def test_resampled_read_uses_the_coarsest_sufficient_overview(files, tmp_path):
    # 100 x 100 out of 512 x 512: scale 2 (128 x 128) is the coarsest at least that large, so
    # the result is scale 2 resampled to 100 x 100 (nearest), not full size resampled.
    got = translate_to_array(files["colour"], tmp_path / "a.tif", "-outsize", 100, 100)
    scale2 = tmp_path / "scale2.ppm"
    run_tool("decode", files["colour"], "-o", scale2, "--scale", 2)
    expected = translate_to_array(scale2, tmp_path / "b.tif", "-outsize", 100, 100)
    assert np.array_equal(got, expected)


@pytest.mark.filterwarnings("ignore::rasterio.errors.NotGeoreferencedWarning")
def test_rasterio_window_read(files):
    import rasterio
    from rasterio.windows import Window

    with rasterio.open(files["colour"]) as dataset:
        assert dataset.driver == "KAVEL"
        got = dataset.read(window=Window(130, 70, 150, 90))  # (bands, rows, columns)
    expected = reference(files["colour"], 0, (130, 70, 279, 159))
    assert np.array_equal(np.moveaxis(got, 0, -1), expected)


def test_create_copy_writes_what_kavel_encode_writes(tmp_path):
    source = os.path.join(DATA, "coffee.png")
    out = tmp_path / "coffee.kvl"
    gdal("gdal_translate", "-q", "-of", "KAVEL", "-co", "QUALITY=90", "-co", "LEVELS=3",
         source, out)
    expected = tmp_path / "expected.kvl"
    run_tool("encode", source, expected, "--quality", 90, "--levels", 3)
    assert out.read_bytes() == expected.read_bytes()
    assert info(out)["levels"] == 3


def test_create_copy_through_virtual_files_with_progress_and_options():
    from osgeo import gdal as ogdal

    ogdal.UseExceptions()
    driver = ogdal.GetDriverByName("KAVEL")
    source = ogdal.Open(os.path.join(DATA, "chelsea.png"))
    steps = []
    copy = driver.CreateCopy("/vsimem/chelsea.kvl", source, options=["BPP=2"],
                             callback=lambda done, *_: steps.append(done) or 1)
    assert steps and steps == sorted(steps) and steps[-1] == 1.0
    assert (copy.RasterXSize, copy.RasterYSize, copy.RasterCount) == (451, 300, 3)
    size = ogdal.VSIStatL("/vsimem/chelsea.kvl").size
    assert abs(size * 8 / (451 * 300) - 2) < 0.2
    decoded = copy.ReadAsArray().astype(float)
    original = source.ReadAsArray().astype(float)
    psnr = 10 * np.log10(255**2 / np.mean((decoded - original) ** 2))
    assert psnr > 30
    copy = None
    ogdal.Unlink("/vsimem/chelsea.kvl")

    # A bad option fails with its reason and leaves nothing; a cancelled copy too.
    with pytest.raises(RuntimeError, match="QUALITY wants a number 1..100"):
        driver.CreateCopy("/vsimem/bad.kvl", source, options=["QUALITY=200"])
    with pytest.raises(RuntimeError, match="User terminated"):
        driver.CreateCopy("/vsimem/cancel.kvl", source, callback=lambda done, *_: 0)
    assert ogdal.VSIStatL("/vsimem/bad.kvl") is None
    assert ogdal.VSIStatL("/vsimem/cancel.kvl") is None


def test_reading_from_a_zip_and_damaged_files_report_the_reason(files, tmp_path):
    from osgeo import gdal as ogdal
    import zipfile

    ogdal.UseExceptions()
    archive = tmp_path / "images.zip"
    with zipfile.ZipFile(archive, "w") as z:
        z.write(files["grey"], "inside/grey.kvl")
    dataset = ogdal.Open(f"/vsizip/{archive}/inside/grey.kvl")
    assert np.array_equal(dataset.ReadAsArray(10, 20, 30, 40),
                          reference(files["grey"], 0, (10, 20, 39, 59)))

    data = files["colour"].read_bytes()
    damaged = tmp_path / "damaged.kvl"
    damaged.write_bytes(data[: len(data) // 2])
    with pytest.raises(RuntimeError, match="KAVEL: .+"):
        ogdal.Open(str(damaged)).ReadAsArray()
