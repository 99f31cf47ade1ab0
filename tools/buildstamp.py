#!/usr/bin/env python3
"""Writes the build date and time, in MS-DOS form, into the time-stamp field of a PE file's
root resource directory, where the program's About box reads it.

    buildstamp.py FILE        local time now, or SOURCE_DATE_EPOCH (as UTC) when it is set
    buildstamp.py --read FILE prints the stamp as a date and time

The resource directory is found through the optional header's magic, so PE32 and PE32+ both
work. A file without a resource directory is an error.
"""
import os
import struct
import sys
import time

PE32, PE32_PLUS = 0x10B, 0x20B
RESOURCE_ENTRY = 2


class StampError(Exception):
    pass


def _u(data, offset, fmt):
    size = struct.calcsize(fmt)
    if offset < 0 or offset + size > len(data):
        raise StampError(f"offset {offset:#x} lies outside the file")
    return struct.unpack_from(fmt, data, offset)[0]


def pe_header_offset(data):
    """File offset of the PE signature, checked."""
    if _u(data, 0, "<H") != 0x5A4D:
        raise StampError("no MZ header")
    pe = _u(data, 0x3C, "<I")
    if _u(data, pe, "<I") != 0x4550:
        raise StampError("no PE signature")
    return pe


def machine(data):
    """The COFF header's machine field (0x14C for x86, 0x8664 for x86-64)."""
    return _u(data, pe_header_offset(data) + 4, "<H")


def resource_directory_offset(data):
    """File offset of the root resource directory."""
    pe = pe_header_offset(data)
    sections = _u(data, pe + 6, "<H")
    optional_size = _u(data, pe + 20, "<H")
    optional = pe + 24
    magic = _u(data, optional, "<H")
    if magic == PE32:
        directories = optional + 96
    elif magic == PE32_PLUS:
        directories = optional + 112
    else:
        raise StampError(f"unknown optional header magic {magic:#x}")
    rva = _u(data, directories + 8 * RESOURCE_ENTRY, "<I")
    if rva == 0:
        raise StampError("no resource directory")
    table = optional + optional_size
    for i in range(sections):
        header = table + 40 * i
        vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<IIII", data, header + 8)
        if vaddr <= rva < vaddr + max(vsize, raw_size):
            offset = raw_ptr + (rva - vaddr)
            _u(data, offset + 4, "<I")
            return offset
    raise StampError("the resource directory lies in no section")


def dos_stamp(t):
    """struct_time -> MS-DOS date (high 16 bits) and time (low 16 bits)."""
    if not 1980 <= t.tm_year <= 2107:
        raise StampError(f"year {t.tm_year} has no MS-DOS form")
    date = ((t.tm_year - 1980) << 9) | (t.tm_mon << 5) | t.tm_mday
    clock = (t.tm_hour << 11) | (t.tm_min << 5) | (min(t.tm_sec, 59) // 2)
    return (date << 16) | clock


def decode(stamp):
    date, clock = stamp >> 16, stamp & 0xFFFF
    return (1980 + (date >> 9), (date >> 5) & 0xF, date & 0x1F, clock >> 11, (clock >> 5) & 0x3F, (clock & 0x1F) * 2)


def stamp_file(path, t):
    """Writes the stamp of the struct_time t into the PE file at path, in place."""
    with open(path, "r+b") as f:
        data = f.read()
        offset = resource_directory_offset(data) + 4
        f.seek(offset)
        f.write(struct.pack("<I", dos_stamp(t)))


def build_time():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if epoch:
        # Reproducible builds: the same epoch gives the same bytes wherever the build runs.
        return time.gmtime(int(epoch))
    return time.localtime()


def main(argv):
    if len(argv) == 3 and argv[1] == "--read":
        data = open(argv[2], "rb").read()
        stamp = _u(data, resource_directory_offset(data) + 4, "<I")
        print("%04d-%02d-%02d %02d:%02d:%02d" % decode(stamp))
        return 0
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    stamp_file(argv[1], build_time())
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except (StampError, OSError) as e:
        print(f"buildstamp: {e}", file=sys.stderr)
        sys.exit(1)
