#!/usr/bin/env python3
"""Counts the byte ranges `kavel decode` reads from a Kavel file, as a remote reader would fetch them.

    bench/remote/window_reads.py KAVEL FILE.kvl [decode options...]

Runs `KAVEL decode FILE.kvl -o /dev/null.ppm-like scratch [options]` under strace (Debian
package strace), follows the file's descriptor through openat, lseek, read and pread64, and
prints:
  reads       the system calls that read the file, and the bytes they returned
  distinct    the bytes of the file read at least once
  16K chunks  the file cut in 16 KiB chunks (the unit a /vsicurl/-style reader fetches):
              chunks touched, their bytes, and the runs of consecutive chunks (one HTTP range
              request each when the reader asks for neighbouring chunks together)
Example: bench/remote/window_reads.py build/tools/kavel big.kvl --window 3968,3968,4223,4223
"""
import os
import re
import subprocess
import sys
import tempfile

CHUNK = 16384


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    kavel, path = sys.argv[1], sys.argv[2]
    size = os.path.getsize(path)
    with tempfile.TemporaryDirectory() as scratch:
        trace = os.path.join(scratch, "trace")
        out = os.path.join(scratch, "out.ppm")
        subprocess.run(["strace", "-f", "-qq", "-e", "trace=openat,read,pread64,lseek,close",
                        "-o", trace, kavel, "decode", path, "-o", out] + sys.argv[3:],
                       check=True, stdout=subprocess.DEVNULL)
        lines = open(trace).read().splitlines()
    name = os.path.basename(path)
    fds, position, ranges = set(), {}, []
    for line in lines:
        m = re.search(r'openat\(.*"([^"]*)".*\) = (\d+)', line)
        if m and os.path.basename(m.group(1)) == name:
            fds.add(int(m.group(2)))
            position[int(m.group(2))] = 0
            continue
        m = re.search(r'close\((\d+)\)', line)
        if m and int(m.group(1)) in fds:
            fds.discard(int(m.group(1)))
            continue
        m = re.search(r'lseek\((\d+), (-?\d+), SEEK_(SET|CUR)\) = (\d+)', line)
        if m and int(m.group(1)) in fds:
            position[int(m.group(1))] = int(m.group(4))
            continue
        m = re.search(r'pread64\((\d+), .*, (\d+), (\d+)\) = (\d+)', line)
        if m and int(m.group(1)) in fds:
            got = int(m.group(4))
            if got > 0:
                ranges.append((int(m.group(3)), got))
            continue
        m = re.search(r'\bread\((\d+), .*, (\d+)\) = (\d+)', line)
        if m and int(m.group(1)) in fds:
            fd, got = int(m.group(1)), int(m.group(3))
            if got > 0:
                ranges.append((position[fd], got))
            position[fd] += got
    read_bytes = sum(n for _, n in ranges)
    covered = set()
    chunks = set()
    for start, n in ranges:
        covered.update(range(start, start + n)) if n < 1 << 22 else None
        chunks.update(range(start // CHUNK, (start + n - 1) // CHUNK + 1))
    runs = sum(1 for c in chunks if c - 1 not in chunks)
    print("file: %d bytes" % size)
    print("reads: %d calls, %d bytes (%.2f %% of the file)" % (len(ranges), read_bytes, 100.0 * read_bytes / size))
    print("distinct: %d bytes (%.2f %%)" % (len(covered), 100.0 * len(covered) / size))
    print("16K chunks: %d chunks, %d bytes (%.2f %%), %d runs of consecutive chunks"
          % (len(chunks), len(chunks) * CHUNK, 100.0 * len(chunks) * CHUNK / size, runs))


if __name__ == "__main__":
    main()
