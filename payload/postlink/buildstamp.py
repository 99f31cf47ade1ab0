#!/usr/bin/env python3
"""Writes the build date and time, in MS-DOS form, into the time-stamp field of a PE file's
root resource directory, where the program's About box reads it, and keeps a non-zero header
checksum valid.

    buildstamp.py FILE        local time now, or SOURCE_DATE_EPOCH (as UTC) when it is set
    buildstamp.py --read FILE prints the stamp as a date and time

The resource directory is found through the PE layout of pe.py (PE32 and PE32+ both); a file
without one is an error.
"""
import os
import struct
import sys
import time

import pe


class StampError(Exception):
    pass


def resource_directory_offset(data):
    """File offset of the root resource directory, whose table lies in its section's bytes."""
    layout = pe.parse_layout(data)
    rva = pe.directory(data, layout, pe.DIR_RESOURCE).address
    if rva == 0:
        raise pe.PeError(pe.NOT_FOUND, "no resource directory", layout.dir_address(pe.DIR_RESOURCE),
                         pe.DATA_DIRECTORY_SIZE)
    return pe.file_bytes(data, layout, rva, pe.DIR_TABLE_SIZE, "the resource directory")


def read_stamp(data):
    return pe.u32(data, resource_directory_offset(data) + pe.DIR_TIME_DATE_STAMP)


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


def stamped(data, t):
    """The file's bytes with the stamp of the struct_time t (and the checksum) set."""
    out = bytearray(data)
    struct.pack_into("<I", out, resource_directory_offset(data) + pe.DIR_TIME_DATE_STAMP, dos_stamp(t))
    pe.refresh_checksum(out)
    return bytes(out)


def stamp_file(path, t):
    """Writes the stamp of the struct_time t into the PE file at path, in place."""
    with open(path, "r+b") as f:
        out = stamped(f.read(), t)
        f.seek(0)
        f.write(out)


def build_time():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if epoch:
        # Reproducible builds: the same epoch gives the same bytes wherever the build runs.
        return time.gmtime(int(epoch))
    return time.localtime()


def main(argv):
    if len(argv) == 3 and argv[1] == "--read":
        with open(argv[2], "rb") as f:
            stamp = read_stamp(f.read())
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
    except (pe.PeError, StampError, OSError) as e:
        print(f"buildstamp: {e}", file=sys.stderr)
        sys.exit(1)
