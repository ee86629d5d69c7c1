#!/usr/bin/python3
"""Writes a deterministic test picture as binary PGM (1 plane) or PPM (3 planes).

Usage: make_picture.py OUT WIDTH HEIGHT PLANES
Gradients with a little pseudo-random texture, so that every wavelet band carries detail.
"""
import sys


def main():
    out, width, height, planes = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    state = 12345
    data = bytearray()
    for y in range(height):
        for x in range(width):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            noise = (state >> 16) % 24
            for p in range(planes):
                value = (x * (3 + p) + y * (5 - p) + ((x ^ y) & 31) + noise) % 256
                data.append(value)
    with open(out, "wb") as f:
        f.write(b"P%d\n%d %d\n255\n" % (6 if planes == 3 else 5, width, height))
        f.write(data)


if __name__ == "__main__":
    main()
