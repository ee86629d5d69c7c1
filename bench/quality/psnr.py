#!/usr/bin/env python3
"""PSNR of two 8-bit pictures (PNG without interlacing, or binary PGM/PPM).

usage: psnr.py REFERENCE TEST   -> prints the PSNR in dB over all samples (alpha ignored)
       psnr.py --pnm IN OUT      -> writes IN as binary PGM (grey) or PPM (colour)
"""
import math
import struct
import sys
import zlib


def read_pnm(data):
    fields, pos = [], 2
    while len(fields) < 3:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b'#':
            pos = data.index(b'\n', pos) + 1
            continue
        start = pos
        while data[pos:pos + 1].isdigit():
            pos += 1
        fields.append(int(data[start:pos]))
    width, height, maxval = fields
    if maxval != 255:
        raise ValueError('only maxval 255 is supported')
    channels = 1 if data[1:2] == b'5' else 3
    pixels = data[pos + 1:pos + 1 + width * height * channels]
    return width, height, channels, pixels


def read_png(data):
    pos, idat, header = 8, b'', None
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            header = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or interlace or colour not in (0, 2, 4, 6):
        raise ValueError('only 8-bit, non-interlaced, non-palette PNG is supported')
    stride = {0: 1, 2: 3, 4: 2, 6: 4}[colour]
    raw = zlib.decompress(idat)
    row_bytes = width * stride
    rows, previous, at = [], bytearray(row_bytes), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + row_bytes])
        at += 1 + row_bytes
        for i in range(row_bytes):
            a = line[i - stride] if i >= stride else 0
            b = previous[i]
            c = previous[i - stride] if i >= stride else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        previous = line
    pixels = b''.join(rows)
    keep = 1 if colour in (0, 4) else 3
    if keep != stride:
        pixels = bytes(pixels[i + c] for i in range(0, len(pixels), stride) for c in range(keep))
    return width, height, keep, pixels


def read(path):
    with open(path, 'rb') as f:
        data = f.read()
    if data[:8] == b'\x89PNG\r\n\x1a\n':
        return read_png(data)
    if data[:2] in (b'P5', b'P6'):
        return read_pnm(data)
    raise ValueError(path + ': not PNG, PGM or PPM')


def main():
    if sys.argv[1] == '--pnm':
        width, height, channels, pixels = read(sys.argv[2])
        with open(sys.argv[3], 'wb') as f:
            f.write(b'P%d\n%d %d\n255\n' % (5 if channels == 1 else 6, width, height))
            f.write(pixels)
        return
    a, b = read(sys.argv[1]), read(sys.argv[2])
    if a[:3] != b[:3]:
        sys.exit('pictures differ in size or channels: %s vs %s' % (a[:3], b[:3]))
    total = sum((x - y) * (x - y) for x, y in zip(a[3], b[3]))
    mse = total / len(a[3])
    print('inf' if mse == 0 else '%.2f' % (10 * math.log10(255 * 255 / mse)))


if __name__ == '__main__':
    main()
