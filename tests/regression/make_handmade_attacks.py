#!/usr/bin/env python3
"""Writes the hand-made attack files of this folder (NAME.kvl with NAME.txt beside it).

Each one is a small valid grey 8 x 8 file with one field changed, or a file built around one
hostile value. Run from anywhere: python3 tests/regression/make_handmade_attacks.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def be32(v):
    return struct.pack(">i", v)


def flat_file(planes=1, levels=0, width=8, height=8, tile=(0, 0, 7, 7), tile_count=None,
              counts=None, symbols=b"\xbe", step=1.0, step_bits=None, block=(8, 8),
              stream_offset=None, block_offset=None, block_data=None, pointer=None):
    """Header, pointer table (every subband shares one directory), directory, stream, block."""
    counts = counts if counts is not None else bytes([1] + [0] * 15)
    subbands = 3 * levels + 1
    header = b"kvel\0\0\0" + be32(planes) + be32(levels) + be32(width) + be32(height)
    directory_at = 23 + 4 * subbands
    record = 4 * planes + 16
    stream_at = directory_at + 8 + record
    stream = (b"\xff\xaa" + counts + symbols +
              (be32(step_bits) if step_bits is not None else struct.pack(">f", step)) +
              be32(block[0]) + be32(block[1]))
    block_at = stream_at + len(stream) + 4
    stream += be32(block_offset if block_offset is not None else block_at)
    data = block_data if block_data is not None else b"\xff\xa3" + b"\x00" * 8
    table = be32(pointer if pointer is not None else directory_at) * subbands
    offsets = be32(stream_offset if stream_offset is not None else stream_at) * planes
    directory = (b"\xff\xac\0\0" + be32(1 if tile_count is None else tile_count) + offsets +
                 be32(tile[0]) + be32(tile[1]) + be32(tile[2]) + be32(tile[3]))
    return header + table + directory + stream + data


def stacked_tiles_file(tiles, inverted_per_tile=0):
    """A grey 256 x 256 file whose one directory lists the same full-size tile many times, all
    sharing one stream with one 256 x 256 block of 1-bit codes; after each, inverted_per_tile
    records of a tile with no stream whose columns run backwards (x0 = 255, x1 = 0)."""
    header = b"kvel\0\0\0" + be32(1) + be32(0) + be32(256) + be32(256)
    directory_at = 27
    records = tiles * (1 + inverted_per_tile)
    stream_at = directory_at + 8 + 20 * records
    stream = (b"\xff\xaa" + bytes([1] + [0] * 15) + b"\xbe" + struct.pack(">f", 1.0) +
              be32(256) + be32(256))
    stream += be32(stream_at + len(stream) + 4)
    block = b"\xff\xa3" + b"\x00" * (65536 // 8)
    record = be32(stream_at) + be32(0) + be32(0) + be32(255) + be32(255)
    inverted = be32(0) + be32(255) + be32(0) + be32(0) + be32(255)
    directory = (b"\xff\xac\0\0" + be32(records) +
                 (record + inverted * inverted_per_tile) * tiles)
    return header + be32(directory_at) + directory + stream + block


def broken_lower_half_file():
    """A grey 4096 x 2048 file, L = 0: the upper half is a tile with no stream (zeros), the
    lower half a tile whose stream offset points at bytes that are no tile stream."""
    header = b"kvel\0\0\0" + be32(1) + be32(0) + be32(4096) + be32(2048)
    directory_at = 27
    garbage_at = directory_at + 8 + 2 * 20
    directory = (b"\xff\xac\0\0" + be32(2) +
                 be32(0) + be32(0) + be32(0) + be32(4095) + be32(1023) +
                 be32(garbage_at) + be32(0) + be32(1024) + be32(4095) + be32(2047))
    return header + be32(directory_at) + directory + b"\0\0\0\0"


def shared_directory_file(tiles, planes=3, levels=31):
    """A 2^20 x 2^20 image whose 3L + 1 subband pointers all name one directory of many tile
    records (far from the windows read, without streams)."""
    subbands = 3 * levels + 1
    header = (b"kvel\0\0\0" + be32(planes) + be32(levels) + be32(1 << 20) + be32(1 << 20))
    directory_at = 23 + 4 * subbands
    record = be32(0) * planes + be32(60000) + be32(60000) + be32(60001) + be32(60001)
    return (header + be32(directory_at) * subbands + b"\xff\xac\0\0" + be32(tiles) +
            record * tiles)


def corner_tiles_file(tiles, side):
    """A grey 65535 x 65535 file, L = 0, whose directory repeats one side x side tile that
    meets the image only in its sample (0, 0); the tile's stream has blocks of 1 x 1, so its
    header holds side^2 block offsets."""
    header = b"kvel\0\0\0" + be32(1) + be32(0) + be32(65535) + be32(65535)
    directory_at = 27
    stream_at = directory_at + 8 + 20 * tiles
    blocks = side * side
    stream = (b"\xff\xaa" + bytes([1] + [0] * 15) + b"\xbe" + struct.pack(">f", 1.0) +
              be32(1) + be32(1))
    block_at = stream_at + len(stream) + 4 * blocks
    stream += be32(block_at) * blocks
    record = be32(stream_at) + be32(1 - side) + be32(1 - side) + be32(0) + be32(0)
    return (header + be32(directory_at) + b"\xff\xac\0\0" + be32(tiles) + record * tiles +
            stream + b"\xff\xa3\x00\x00")


def corner_tiles_long_block_file(tiles, side):
    """As corner_tiles_file, but the tile's stream is one side x side block whose code is a
    run of one zero per bit: reaching the block's last sample, the one the window needs,
    means decoding side^2 - 1 symbols."""
    header = b"kvel\0\0\0" + be32(1) + be32(0) + be32(65535) + be32(65535)
    directory_at = 27
    stream_at = directory_at + 8 + 20 * tiles
    stream = (b"\xff\xaa" + bytes([1] + [0] * 15) + b"\x01" + struct.pack(">f", 1.0) +
              be32(side) + be32(side))
    stream += be32(stream_at + len(stream) + 4)
    block = b"\xff\xa3" + b"\x00" * (side * side // 8 + 8)
    record = be32(stream_at) + be32(1 - side) + be32(1 - side) + be32(0) + be32(0)
    return (header + be32(directory_at) + b"\xff\xac\0\0" + be32(tiles) + record * tiles +
            stream + block)


def shared_corner_directory_file(tiles, planes=3, levels=31, empty_tiles=False, side=1 << 20):
    """A 2^20 x 2^20 image whose 3L + 1 subband pointers all name one directory of many records
    of a tile at the image's corner that shares one stream, so that every leaf of a window at
    the corner meets every record: a 1 x 1 tile at (0, 0) whose block codes one value, or with
    empty_tiles a tile of no columns (x0 = 1, x1 = 0), which has no blocks but whose stream
    header is still read."""
    subbands = 3 * levels + 1
    header = (b"kvel\0\0\0" + be32(planes) + be32(levels) + be32(side) + be32(side))
    directory_at = 23 + 4 * subbands
    stream_at = directory_at + 8 + (4 * planes + 16) * tiles
    stream = (b"\xff\xaa" + bytes([1] + [0] * 15) + b"\xbe" + struct.pack(">f", 1.0) +
              be32(1) + be32(1))
    stream += be32(stream_at + len(stream) + 4)
    corner = (be32(1) + be32(0) + be32(0) + be32(0)) if empty_tiles else be32(0) * 4
    record = be32(stream_at) * planes + corner
    return (header + be32(directory_at) * subbands + b"\xff\xac\0\0" + be32(tiles) +
            record * tiles + stream + b"\xff\xa3\x00\x00")


ATTACKS = {
    "corner-tiles-long-block": (
        corner_tiles_long_block_file(20, 200),
        "20 records of a 200 x 200 tile that meets the image in one sample, the last sample of "
        "its one block, whose code spends one bit per zero: every record decodes the block's "
        "whole code again to reach that sample (a 500 KB file of 100 records with a 2000 x "
        "2000 block took 3.1 s; the work grew with records x block code). The decode's work "
        "budget (16 x the file's size plus 4 x the needed area + 65536 per leaf) refuses the "
        "800,000 symbols for a 256 x 256 window; a 512 x 512 window brings budget enough and "
        "decodes.\n"
        "refuse: 0 0 0 255 255\n"
        "decode: 0 0 0 511 511"),
    "corner-tiles-long-offset-table": (
        corner_tiles_file(20, 60),
        "20 records of a 60 x 60 tile that meets the image in one sample, its stream cut into "
        "1 x 1 blocks. Each record that meets the window read and laid out its stream's whole "
        "block offset table, though one block is used, and the coverage bound counts it as "
        "one sample: the work was records x offsets, quadratic in the file's size (a 4 MB file "
        "of 400 records of 1000 x 1000 took 19 s for one window). Only the needed block's "
        "offset may be read; it must decode cleanly."),
    "shared-corner-directory": (
        shared_corner_directory_file(600, levels=2),
        "Every subband of a colour image names one directory of 600 records of a 1 x 1 tile at "
        "the image's corner that share one stream: every leaf of every plane of a window at "
        "the corner decodes every record again (before the work budget, a 560 KB file of "
        "20000 such records with L = 31 took 12 s and 180 MB for one window). Refused for a "
        "256 x 256 window; a 512 x 512 window brings budget enough.\n"
        "refuse: 0 0 0 255 255\n"
        "decode: 0 0 0 511 511"),
    "shared-corner-directory-empty-tiles": (
        shared_corner_directory_file(2000, levels=2, empty_tiles=True),
        "Every subband of a colour image names one directory of 2000 records of a tile with no "
        "columns (x0 = 1, x1 = 0) that still meets windows at the corner and has a stream: no "
        "blocks, but every record reads its stream header, and each was compared with every "
        "earlier record of its leaf for overlaps (a 1.7 MB file of 60000 such records with "
        "L = 31 took 13 minutes for one window). Refused by the work budget.\n"
        "refuse: 0 0 0 255 255"),
    "shared-directory-all-subbands": (
        shared_directory_file(500),
        "Every subband pointer names the same directory of 500 records. A colour decode keeps "
        "a copy of the directory per subband for the whole decode, so memory grows with "
        "records x subbands (an 8.4 MB file of 300000 records took 2.6 GB and 13 s for one "
        "256 x 256 window); a grey decode reads the directory once per subband. Kept small "
        "here; it must decode cleanly."),
    "broken-lower-half": (
        broken_lower_half_file(),
        "A large window whose upper part decodes and whose lower part cannot: the decode must "
        "fail without touching the caller's buffer, also when a large window is decoded in "
        "strips of rows (the upper strip must not be written before the lower one fails).\n"
        "refuse: 0 0 0 4095 2047\n"
        "decode: 0 0 0 4095 1023"),
    "empty-tile-invalid-table": (
        flat_file(height=16, tile=(0, 8, 7, 7), counts=bytes([2, 1] + [0] * 14),
                  symbols=b"\xbe\xbf\xc0"),
        "A tile with no rows (y0 = 8, y1 = 7: no blocks) whose stream has a code table that "
        "overflows the code space. Its inverted rectangle still counts as meeting the needed "
        "rows 0..15, so its stream header is read; the decoders must agree on the verdict "
        "(found by fuzz_region: the fast decoder refused, the reference decoded), and no "
        "\"pointer not found\" warning may be printed for the empty block list."),
    "stacked-tiles-work": (
        stacked_tiles_file(64),
        "64 tile records for the same full-size tile, sharing one stream: every record decodes "
        "and dequantises the whole window again, so the work is tile records x window area "
        "(about 0.4 ms of CPU per record for a 256 x 256 window: a 1 MB file of 50000 records "
        "takes 20 s for one window). Must be refused: the tiles cover the window 64 times.\n"
        "refuse: 0 0 0 255 255"),
    "stacked-tiles-inverted-records": (
        stacked_tiles_file(64, 2),
        "The stacked tiles again, each followed by two records of a tile whose columns run "
        "backwards (x0 = 255, x1 = 0) and that has no stream. Such a record still 'meets' the "
        "window and, counted as an area of (0 - 255 + 1) x 256, takes more off the coverage "
        "sum than a full tile adds, so the stacking check never fires.\n"
        "refuse: 0 0 0 255 255"),
    "tile-count-beyond-file": (
        flat_file(tile_count=0x7FFFFFFF),
        "A tile directory claiming 2^31-1 tiles in a 100-byte file: the count must be refused "
        "before memory is taken for the records."),
    "negative-tile-count": (
        flat_file(tile_count=-1), "A tile count of -1."),
    "zero-block-width": (
        flat_file(block=(0, 8)), "A block width of 0 (division by zero in the block grid)."),
    "negative-block-height": (
        flat_file(block=(8, -5)), "A negative block height."),
    "tile-wider-than-65535": (
        flat_file(width=70001, tile=(0, 0, 70000, 7), block=(70001, 8)),
        "A tile 70001 columns wide in one block: block positions and sizes are 16-bit.\n"
        "decode: 0 69990 0 70005 7"),
    "one-huge-block": (
        flat_file(width=65535, height=65535, tile=(0, 0, 65534, 65534), block=(65535, 65535)),
        "One block of 65535 x 65535 coefficients with 8 bytes of data: a window at the far "
        "corner makes the decoder skip 4 billion coefficients, which the data cannot hold; the "
        "decode must fail quickly at the end of the data, not spin.\n"
        "decode: 0 65500 65500 65534 65534\n"
        "decode: 0 65534 0 65534 255"),
    "symbol-count-above-256": (
        flat_file(counts=bytes([0xFF] * 16), symbols=bytes(range(256)) * 16),
        "Code-length counts adding up to 4080 symbols."),
    "empty-code-table": (
        flat_file(counts=bytes(16), symbols=b""), "A code table with no codes."),
    "code-space-overflow": (
        flat_file(counts=bytes([2, 1] + [0] * 14), symbols=b"\xbe\xbf\xc0"),
        "Two 1-bit codes and a 2-bit code: more codes than the lengths allow."),
    "negative-stream-offset": (
        flat_file(stream_offset=-8), "A tile stream offset of -8."),
    "directory-beyond-file": (
        flat_file(pointer=0x7FFFFFF0), "A subband pointer far beyond the end of the file."),
    "directory-at-header": (
        flat_file(pointer=0), "A subband pointer to offset 0, where the magic stands."),
    "block-offset-at-stream": (
        flat_file(block_offset=55), "A block offset pointing at the tile stream's FF AA."),
    "block-truncated": (
        flat_file(block_data=b"\xff\xa3"), "A block that ends right after its FF A3."),
    "block-marker-only": (
        flat_file(block_data=b"\xff\xa3\xff\xd9"),
        "A block whose data starts with a marker: no coefficients, decodes as zeros."),
    "step-not-a-number": (
        flat_file(step_bits=0x7FC00000), "A quantisation step that is not a number."),
    "step-huge": (
        flat_file(step_bits=0x7F7FFFFF, symbols=b"\xff"),
        "The largest finite step with value 75: products overflow to infinity and the lifting "
        "makes infinities and NaN, which must store as valid bytes."),
    "largest-image-shared-directory": (
        flat_file(levels=31, width=0x7FFFFFFF, height=0x7FFFFFFF, tile_count=0),
        "31 levels of a 2^31-1 square image, every subband pointing at one empty directory: "
        "band sizes and window arithmetic at the limits of 32 bits.\n"
        "decode: 0 2147483390 2147483390 2147483647 2147483647\n"
        "decode: 0 -2147483648 -2147483648 -2147483393 -2147483393\n"
        "decode: 30 0 0 3 3"),
    "many-planes": (
        flat_file(planes=255), "255 planes sharing one tile stream."),
    "many-planes-shared-corner": (
        shared_corner_directory_file(95, planes=255, levels=8, side=256),
        "A 256 x 256 image of 255 planes and 8 levels whose 25 subbands name one directory of "
        "95 records of a corner tile that share one stream (99 KB): every leaf of every plane "
        "meets every record. The work allowance is granted once per decode, not once per plane "
        "(granted 255 times over, a 256 x 256 window took 3.0 s of CPU; a 69 KB file of this "
        "kind with 31 levels took 53 s). Must be refused quickly.\n"
        "refuse: 0 0 0 255 255"),
    "tile-at-negative-corner": (
        flat_file(tile=(-2147483648, -2147483648, -2147483641, -2147483641)),
        "A tile at the most negative coordinates: block rectangles must not overflow."),
    "tile-at-positive-corner": (
        flat_file(tile=(2147483640, 2147483640, 2147483647, 2147483647)),
        "A tile ending at the largest coordinate (outside the band)."),
}


def main():
    for name, (data, notes) in ATTACKS.items():
        with open(os.path.join(HERE, name + ".kvl"), "wb") as f:
            f.write(data)
        with open(os.path.join(HERE, name + ".txt"), "w") as f:
            f.write(notes + "\n")


if __name__ == "__main__":
    main()
