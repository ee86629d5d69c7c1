#!/usr/bin/python3
"""Checks the resources of a Windows KAVEL.8bi.

Usage: resource_check.py KAVEL.8bi LINUX_PIPL.bin CODE_KEY
The resource directory is read from the module file itself; LINUX_PIPL.bin is the property
list of the Linux module (its .pipl section). The Windows list must be those bytes (374 of them) with the code
property keyed CODE_KEY ('wx86' or '8664'), as resource "PIPL" 16000; the module must also
carry the string table (blocks of strings 1-2, 16001 and 16990-16993), the version block 1,
the group cursors 130 to 133 and the dialog template 1026, all in language 0x0409.
"""
import struct
import sys

RT_CURSOR, RT_DIALOG, RT_STRING, RT_GROUP_CURSOR, RT_VERSION = 1, 5, 6, 12, 16


def resources(path):
    """{(type, id, language): bytes} of a PE module's resource directory (three levels)."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = optional + optional_size
    mapping = []
    for i in range(sections):
        size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        mapping.append((rva, max(size, raw_size), raw))

    def offset(rva):
        for start, size, raw in mapping:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("address outside the sections")

    base = offset(rsrc_rva)

    def entries(at):
        named, ids = struct.unpack_from("<HH", data, at + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, at + 16 + 8 * i)
            if name & 0x80000000:
                length = struct.unpack_from("<H", data, base + (name & 0x7FFFFFFF))[0]
                start = base + (name & 0x7FFFFFFF) + 2
                name = data[start:start + 2 * length].decode("utf-16-le")
            yield name, target

    found = {}
    for kind, kinds in entries(base):
        for name, names in entries(base + (kinds & 0x7FFFFFFF)):
            for language, leaf in entries(base + (names & 0x7FFFFFFF)):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                found[(kind, name, language)] = data[offset(rva):offset(rva) + size]
    return found


def main():
    found = resources(sys.argv[1])
    with open(sys.argv[2], "rb") as f:
        expected = bytearray(f.read())
    key = sys.argv[3].encode()
    problems = []
    if len(expected) != 374 or b"68xw" not in expected:
        problems.append("the Linux property list is not the 374-byte list with 'wx86'")
    expected = expected.replace(b"68xw", key[::-1])
    pipl = found.get(("PIPL", 16000, 0x0409))
    if pipl is None:
        problems.append("no PIPL 16000 in language 0x0409")
    elif pipl != bytes(expected):
        problems.append("PIPL 16000 differs from the expected %d bytes (has %d)" %
                        (len(expected), len(pipl)))
    wanted = [(RT_STRING, 1), (RT_STRING, 16001 // 16 + 1), (RT_STRING, 16990 // 16 + 1),
              (RT_VERSION, 1), (RT_DIALOG, 1026)] + [(RT_GROUP_CURSOR, i) for i in range(130, 134)]
    for kind, name in wanted:
        if (kind, name, 0x0409) not in found:
            problems.append("no resource of type %d, id %d, language 0x0409" % (kind, name))
    dialog = found.get((RT_DIALOG, 1026, 0x0409), b"")
    if dialog[:4] != b"\x01\x00\xff\xff":
        problems.append("dialog 1026 is not an extended dialog template")
    for problem in problems:
        print(problem)
    if not problems:
        print("resources: PIPL 16000 (%d bytes, code key %s), strings, version, cursors "
              "130-133, dialog 1026" % (len(pipl), sys.argv[3]))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
