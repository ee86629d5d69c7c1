#!/usr/bin/python3
"""Remote reads of Kavel files through GDAL's /vsicurl/: bytes fetched and HTTP requests.

    /usr/bin/python3 bench/remote/measure_remote.py [--build DIR] [--work DIR]
        [--sizes 8192 16384] [--rate "--bpp 1"] [--variant NAME="ENCODE OPTIONS" ...]

For every size it makes a colour photographic mosaic (bench/huge/make_mosaic.py), encodes it
with `kavel encode` and the rate options (default --bpp 1; files are reused from an earlier run),
serves the folder with the tests' range server on 127.0.0.1 and measures, each in a fresh
gdal_translate process (nothing cached):

  window     a 256 x 256 window at scale 0 from the middle (-srcwin), and one at each
             --window X,Y corner
  overview   the whole image as 512 x 512 (-outsize 512 512: GDAL takes the overview at the
             coarsest sufficient scale)
  whole      with --whole, the whole image at full size
  sample     with --sample N, 256 x 256 windows at N places drawn at random (always the same
             ones): the median and the worst requests and share, and how many windows meet the
             goal of at most 12 requests and under 2 % of the file

reporting the requests and bytes the server answered, as a share of the file, whether the
pixels equal the local decode of the same window or scale (kavel.read), and, for comparison,
the bytes the library itself asked for (through kavel.open on a file object that counts its
reads). Each --variant encodes a second file with extra encoder options (for
example --variant natural="--layout natural") and measures it the same way.

Needs the build's kavel, gdal_KAVEL.so and Python package (default build dir: build), gdal-bin,
python3-gdal and ImageMagick (for the mosaic). The 16384 mosaic takes about 4 GB to encode.
"""

import argparse
import io
import os
import random
import shlex
import statistics
import subprocess
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.abspath(os.path.join(here, "../.."))
sys.path.insert(0, os.path.join(root, "tests/data_work"))
from range_server import RangeServer  # noqa: E402


class CountingFile(io.FileIO):
    """A file that counts the reads the library makes (one read_at = one seek + reads)."""

    def __init__(self, path):
        super().__init__(path, "rb")
        self.seeks = 0
        self.bytes = 0

    def seek(self, offset, whence=0):
        if whence == 0:
            self.seeks += 1
        return super().seek(offset, whence)

    def read(self, size=-1):
        data = super().read(size)
        self.bytes += len(data)
        return data


def library_reads(path, scale, window):
    """(reads, bytes) of the library for the read, and its pixels as GDAL lays them out."""
    import kavel
    import numpy as np

    f = CountingFile(path)
    image = kavel.open(f)
    f.seeks = f.bytes = 0  # the header is read at open
    pixels = image.read(scale=scale, window=window)
    return f.seeks, f.bytes, np.moveaxis(pixels, -1, 0) if pixels.ndim == 3 else pixels


def same_pixels(out, expected):
    from osgeo import gdal
    import numpy as np

    return np.array_equal(gdal.Open(out).ReadAsArray(), expected)


def gdal_environment(build):
    environment = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    environment.update(GDAL_DRIVER_PATH=os.path.join(build, "gdalplugins"),
                       GDAL_DISABLE_READDIR_ON_OPEN="EMPTY_DIR", GDAL_HTTP_TIMEOUT="30",
                       NO_PROXY="*")
    return environment


def measure(server, build, name, size, arguments, out):
    server.reset_counts()
    started = time.monotonic()
    subprocess.run(["gdal_translate", "-q", *arguments, "/vsicurl/" + server.url(name), out],
                   check=True, env=gdal_environment(build), timeout=600)
    return server.requests, server.bytes_served, time.monotonic() - started


def sample_summary(server, options, variant, name, path, size, file_size):
    """One table row summing up 256 x 256 windows at places drawn at random."""
    draw = random.Random(1)
    places = [(draw.randrange(size - 255), draw.randrange(size - 255))
              for _ in range(options.sample)]
    requests, shares, unequal = [], [], 0
    out = os.path.join(options.work, "out.tif")
    for x, y in places:
        asked, fetched, _ = measure(server, options.build, name, size,
                                    ["-srcwin", str(x), str(y), "256", "256"], out)
        expected = library_reads(path, 0, (x, y, x + 255, y + 255))[2]
        unequal += 0 if same_pixels(out, expected) else 1
        os.unlink(out)
        requests.append(asked)
        shares.append(100 * fetched / file_size)
    met = sum(1 for r, s in zip(requests, shares) if r <= 12 and s < 2)
    n = len(places)
    return (f"| {size}² {variant} | {file_size} | {n} windows of 256 x 256 at random | "
            f"median {statistics.median(requests):g}, worst {max(requests)} | | "
            f"median {statistics.median(shares):.2f} %, worst {max(shares):.2f} % | "
            f"{'yes' if unequal == 0 else f'NO ({unequal})'} | "
            f"{met} of {n} within 12 requests and 2 % | |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(root, "build"))
    parser.add_argument("--work", default="/tmp/kavel-bench/remote")
    parser.add_argument("--sizes", type=int, nargs="+", default=[8192])
    parser.add_argument("--rate", default="--bpp 1")
    parser.add_argument("--variant", action="append", default=[])
    parser.add_argument("--window", action="append", default=[],
                        help="X,Y: also a 256 x 256 window with this corner (besides the middle)")
    parser.add_argument("--whole", action="store_true",
                        help="also the whole image at full size (GDAL reads it in strips)")
    parser.add_argument("--sample", type=int, default=0,
                        help="N: also 256 x 256 windows at N places drawn at random, summed up")
    parser.add_argument("--only", action="append", default=[],
                        help="measure only these variants (by name; 'default' included)")
    options = parser.parse_args()
    sys.path.insert(0, os.path.join(options.build, "python"))
    tool = os.path.join(options.build, "tools", "kavel")
    os.makedirs(options.work, exist_ok=True)
    variants = [("default", "")] + [v.split("=", 1) for v in options.variant]

    print("| file | bytes | read | requests | bytes fetched | share | equal | library asked | time |")
    print("|---|---|---|---|---|---|---|---|---|")
    for size in options.sizes:
        mosaic = os.path.join(options.work, f"mosaic{size}.ppm")
        if not os.path.exists(mosaic):
            subprocess.run([sys.executable, os.path.join(root, "bench/huge/make_mosaic.py"),
                            str(size), mosaic], check=True)
        for variant, extra in variants:
            if options.only and variant not in options.only:
                continue
            name = f"mosaic{size}-{variant}.kvl"
            path = os.path.join(options.work, name)
            if not os.path.exists(path):
                subprocess.run([tool, "encode", mosaic, path, *shlex.split(options.rate),
                                *shlex.split(extra)], check=True)
            file_size = os.path.getsize(path)
            middle = size // 2 - 128
            corners = [(middle, middle)] + [tuple(int(v) for v in w.split(","))
                                            for w in options.window]
            cases = [
                (f"256 x 256 window at {x},{y}", ["-srcwin", str(x), str(y), "256", "256"],
                 0, (x, y, x + 255, y + 255))
                for x, y in corners
            ] + [
                ("512 overview", ["-outsize", "512", "512"],
                 (size // 512).bit_length() - 1, None),
            ] + ([("whole image", [], 0, None)] if options.whole else [])
            with RangeServer(options.work) as server:
                for label, arguments, scale, window in cases:
                    out = os.path.join(options.work, "out.tif")
                    requests, fetched, seconds = measure(server, options.build, name, size,
                                                         arguments, out)
                    seeks, asked, expected = library_reads(path, scale, window)
                    equal = "yes" if same_pixels(out, expected) else "NO"
                    print(f"| {size}² {variant} | {file_size} | {label} | {requests} | "
                          f"{fetched} | {100 * fetched / file_size:.2f} % | {equal} | "
                          f"{asked} in {seeks} reads | {seconds:.2f} s |", flush=True)
                    os.unlink(out)
                if options.sample > 0:
                    print(sample_summary(server, options, variant, name, path, size, file_size),
                          flush=True)


if __name__ == "__main__":
    main()
