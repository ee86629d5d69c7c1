#!/usr/bin/env python3
"""Makes a large photographic test picture: an N x N mosaic of photographs at their own size.

    bench/huge/make_mosaic.py SIZE OUT.ppm|OUT.pgm [PHOTO ...]

SIZE is the side in pixels (for example 4096, 8192 or 16384). OUT.ppm gives a colour mosaic,
OUT.pgm a grey one. The photographs default to data/*.png; each is read once through
ImageMagick's `convert` (Debian package imagemagick) and then placed pixel for pixel, never
scaled.

The mosaic is built in horizontal strips of varying height (256 pixels up to the smallest
photograph's longer side). Along a strip photographs follow each other at their full width, each
in one of its eight orientations (mirrored, turned by quarter turns) and cut to the strip's
height at a varying offset; no photograph follows itself, so that neighbours differ. The layout
is drawn from a fixed seed: the same SIZE and photographs always give the same picture.

Only the standard library is used; rows are written as they are made, so memory stays at the
photographs' size whatever SIZE is.
"""

import glob
import os
import random
import subprocess
import sys


def read_photo(path):
    """Returns (width, height, rgb bytes) of a photograph, read as 8-bit RGB through convert."""
    try:
        data = subprocess.run(["convert", path, "-depth", "8", "-type", "TrueColor", "ppm:-"],
                              check=True, capture_output=True).stdout
    except FileNotFoundError:
        sys.exit("make_mosaic: ImageMagick's convert is missing (apt-get install imagemagick)")
    except subprocess.CalledProcessError as failure:
        sys.exit("make_mosaic: cannot read %s: %s" % (path, failure.stderr.decode(errors="replace").strip()))
    return parse_ppm(data, path)


def parse_ppm(data, path):
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    if fields[0] != b"P6" or int(fields[3]) != 255:
        sys.exit("make_mosaic: %s: convert did not give an 8-bit PPM" % path)
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos + 1:pos + 1 + width * height * 3]
    if len(pixels) != width * height * 3:
        sys.exit("make_mosaic: %s: short PPM from convert" % path)
    return width, height, pixels


def to_grey(pixels):
    """Luma (0.299 R + 0.587 G + 0.114 B, rounded) of interleaved RGB bytes."""
    return bytes((77 * r + 150 * g + 29 * b + 128) >> 8
                 for r, g, b in zip(pixels[0::3], pixels[1::3], pixels[2::3]))


def reverse_pixels(data, channels):
    """The pixels of data in reverse order, each pixel's samples kept in order."""
    backwards = data[::-1]
    if channels == 1:
        return backwards
    out = bytearray(len(data))
    for c in range(channels):
        out[c::channels] = backwards[channels - 1 - c::channels]
    return bytes(out)


def transpose(width, height, data, channels):
    """Mirrors the picture about its main diagonal: row x of the result is column x."""
    out = bytearray(len(data))
    row = height * channels
    for x in range(width):
        for c in range(channels):
            out[x * row + c:(x + 1) * row:channels] = data[x * channels + c::width * channels]
    return height, width, bytes(out)


def orientations(width, height, data, channels):
    """The eight orientations (width, height, data) of a picture."""
    stride = width * channels
    rows = [data[y * stride:(y + 1) * stride] for y in range(height)]
    upside_down = b"".join(reversed(rows))
    turned = reverse_pixels(data, channels)  # half a turn
    mirrored = reverse_pixels(upside_down, channels)  # left-right mirror
    plain = [(width, height, data), (width, height, mirrored), (width, height, upside_down),
             (width, height, turned)]
    return plain + [transpose(w, h, d, channels) for w, h, d in plain]


def build_variants(paths, channels):
    photos = []
    for path in paths:
        width, height, pixels = read_photo(path)
        if channels == 1:
            pixels = to_grey(pixels)
        photos.append(orientations(width, height, pixels, channels))
    return photos


def write_mosaic(size, out_path, photos, channels):
    rng = random.Random(size * 31 + channels)
    longest = min(max(v[0][0], v[0][1]) for v in photos)  # every photograph fits a strip this high
    low = min(256, longest)
    tmp_path = out_path + ".part"
    with open(tmp_path, "wb") as out:
        out.write(b"%s\n%d %d\n255\n" % (b"P6" if channels == 3 else b"P5", size, size))
        y = 0
        while y < size:
            strip = min(rng.randint(low, longest), size - y)
            # The pieces of this strip: (photo data, its row stride, first byte, bytes per row).
            # The first photograph starts part way in, so that the strips' seams do not align.
            pieces, filled, previous = [], 0, -1
            while filled < size:
                choice = rng.randrange(len(photos))
                if choice == previous and len(photos) > 1:
                    continue
                previous = choice
                fitting = [v for v in photos[choice] if v[1] >= strip]
                width, height, data = fitting[rng.randrange(len(fitting))]
                top = rng.randrange(0, height - strip + 1)
                skip = rng.randrange(0, width // 2 + 1) if not pieces else 0
                used = min(width - skip, size - filled)
                pieces.append((data, width * channels, (top * width + skip) * channels,
                               used * channels))
                filled += used
            for r in range(strip):
                out.write(b"".join(d[s + r * stride:s + r * stride + n] for d, stride, s, n in pieces))
            y += strip
    os.replace(tmp_path, out_path)


def main(argv):
    if len(argv) < 3 or not argv[1].isdigit() or not argv[2].endswith((".ppm", ".pgm")):
        sys.exit(__doc__.split("\n\n")[1] if len(argv) > 1 else __doc__)
    size = int(argv[1])
    if not 1 <= size <= 65535:
        sys.exit("make_mosaic: SIZE must be 1..65535")
    channels = 3 if argv[2].endswith(".ppm") else 1
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    paths = argv[3:] or sorted(glob.glob(os.path.join(root, "data", "*.png")))
    if not paths:
        sys.exit("make_mosaic: no photographs (give them on the command line)")
    write_mosaic(size, argv[2], build_variants(paths, channels), channels)


if __name__ == "__main__":
    main(sys.argv)
