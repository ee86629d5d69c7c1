#!/usr/bin/python3
"""Finds the window of a Kavel file whose decode equals a picture the plug-in delivered.

Usage: window_match.py KAVEL_TOOL FILE.kvl SCALE|any DELIVERED.pnm [REACH]
The delivered region is the image at SCALE (with "any": at whichever scale it matches) cut to
the crop, centred on the full view's box: its origin is looked for within REACH pixels
(default 2) of the centred one. Prints the
window and exits 0 when `kavel decode` of it gives exactly the delivered samples and
the delivered file states 72 pixels/inch; exits 1 otherwise.
"""
import os
import subprocess
import sys
import tempfile


def read_pnm(path):
    """(planes, width, height, comments, samples) of a binary PGM or PPM file."""
    with open(path, "rb") as f:
        data = f.read()
    fields, comments, at = [], [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            end = data.index(b"\n", at)
            comments.append(data[at + 1:end].decode().strip())
            at = end + 1
            continue
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at].decode())
    at += 1
    planes = 3 if fields[0] == "P6" else 1
    width, height = int(fields[1]), int(fields[2])
    return planes, width, height, comments, data[at:at + planes * width * height]


def image_header(kavel, path):
    """(width, height, levels) of a Kavel file."""
    info = subprocess.run([kavel, "info", "--json", path], check=True, capture_output=True,
                          text=True).stdout
    import json
    values = json.loads(info)
    return values["width"], values["height"], values["levels"]


def main():
    kavel, path, wanted, delivered = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
    reach = int(sys.argv[5]) if len(sys.argv) > 5 else 2
    planes, width, height, comments, samples = read_pnm(delivered)
    if "72 pixels/inch" not in comments:
        print("no resolution comment of 72 pixels/inch in", delivered, comments)
        return 1
    image_width, image_height, levels = image_header(kavel, path)
    scales = range(levels + 1) if wanted == "any" else [int(wanted)]
    extension = ".ppm" if planes == 3 else ".pgm"
    tried = []
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "window" + extension)
        for scale in scales:
            full_width = -(-image_width // (1 << scale))
            full_height = -(-image_height // (1 << scale))
            left0, top0 = (full_width - width) // 2, (full_height - height) // 2
            tried.append("(%d, %d) at scale %d" % (left0, top0, scale))
            for dy in range(-reach, reach + 1):
                for dx in range(-reach, reach + 1):
                    x0, y0 = left0 + dx, top0 + dy
                    window = "%d,%d,%d,%d" % (x0, y0, x0 + width - 1, y0 + height - 1)
                    subprocess.run([kavel, "decode", path, "-o", out, "--scale", str(scale),
                                    "--window", window, "--quiet"], check=True,
                                   capture_output=True)
                    if read_pnm(out)[4] == samples:
                        print("window", window, "at scale", scale)
                        return 0
    print("no window within %d pixels of %s decodes to %s" % (reach, ", ".join(tried), delivered))
    return 1


if __name__ == "__main__":
    sys.exit(main())
