#!/usr/bin/env python3
"""Counts the byte ranges `kavel decode` reads from a Kavel file, as a remote reader would fetch them.

    bench/remote/window_reads.py KAVEL FILE.kvl [decode options...]

Runs `KAVEL decode FILE.kvl -o SCRATCH.ppm [options]` under strace (Debian package strace),
follows the file's descriptor through openat, lseek, read and pread64, and prints what it read.
The decoder reads blocks through a 16 KiB read-ahead buffer, which would count bytes it never
uses; so a small preloaded library (compiled here with cc) makes every pread return at most
512 bytes (a short read, which the decoder takes in its stride), and the bytes read are then
close to the bytes needed. Prints:
  reads       the system calls that read the file, and the bytes they returned
  distinct    the bytes of the file read at least once
  ranges      the distinct bytes as ranges of consecutive bytes (reads that touch or overlap
              joined): what a reader that fetches exactly the needed ranges asks for
  16K chunks  the file cut in 16 KiB chunks (the unit a /vsicurl/-style reader fetches):
              chunks touched, their bytes, and the runs of consecutive chunks (one HTTP range
              request each when the reader asks for neighbouring chunks together)
A local file is read without fetching ahead (that is done only for readers with read_ranges,
such as GDAL's network files): what GDAL fetches is measured by measure_remote.py.
Example: bench/remote/window_reads.py build/tools/kavel big.kvl --window 3968,3968,4223,4223
"""
import os
import re
import subprocess
import sys
import tempfile

CHUNK = 16384
SHORT_READ = 512

SHIM = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sys/types.h>
static ssize_t (*real)(int, void*, size_t, off_t);
ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
    if (!real) real = (ssize_t (*)(int, void*, size_t, off_t))dlsym(RTLD_NEXT, "pread64");
    return real(fd, buffer, count > %d ? %d : count, offset);
}
ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
    return pread64(fd, buffer, count, offset);
}
""" % (SHORT_READ, SHORT_READ)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    kavel, path = sys.argv[1], sys.argv[2]
    size = os.path.getsize(path)
    with tempfile.TemporaryDirectory() as scratch:
        trace = os.path.join(scratch, "trace")
        out = os.path.join(scratch, "out.ppm")
        shim = os.path.join(scratch, "short_reads.so")
        with open(shim + ".c", "w") as source:
            source.write(SHIM)
        subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", shim, shim + ".c", "-ldl"], check=True)
        subprocess.run(["strace", "-f", "-qq", "-e", "trace=openat,read,pread64,lseek,close",
                        "-E", "LD_PRELOAD=" + shim,
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
    joined = sum(1 for b in covered if b - 1 not in covered)
    print("file: %d bytes" % size)
    print("reads: %d calls, %d bytes (%.2f %% of the file)" % (len(ranges), read_bytes, 100.0 * read_bytes / size))
    print("distinct: %d bytes (%.2f %%)" % (len(covered), 100.0 * len(covered) / size))
    print("ranges: %d ranges of consecutive bytes" % joined)
    print("16K chunks: %d chunks, %d bytes (%.2f %%), %d runs of consecutive chunks"
          % (len(chunks), len(chunks) * CHUNK, 100.0 * len(chunks) * CHUNK / size, runs))


if __name__ == "__main__":
    main()
