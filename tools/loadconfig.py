#!/usr/bin/env python3
"""Points a linked PE file's load configuration entry (data directory 10) at the image's
`_load_config_used` object, as newer linkers do themselves, and brings the header's checksum
up to date.

    loadconfig.py FILE MAP    MAP: the linker's map file of FILE (-Wl,-Map=MAP)

The object's address comes from the map (the file itself may be stripped), its size from the
object's first field. An entry that the linker has filled already must agree with both; a
file or map without the object is an error.
"""
import re
import struct
import sys

PE32, PE32_PLUS = 0x10B, 0x20B
LOAD_CONFIG_ENTRY = 10
# C names of 32-bit images carry a leading underscore.
SYMBOL = re.compile(r"^\s+0x([0-9a-fA-F]+)\s+_?_load_config_used\s*$")


class LoadConfigError(Exception):
    pass


def _u(data, offset, fmt):
    size = struct.calcsize(fmt)
    if offset < 0 or offset + size > len(data):
        raise LoadConfigError(f"offset {offset:#x} lies outside the file")
    return struct.unpack_from(fmt, data, offset)[0]


def symbol_address(map_text):
    found = {int(m.group(1), 16) for m in map(SYMBOL.match, map_text.splitlines()) if m}
    if len(found) != 1:
        raise LoadConfigError(f"the map defines _load_config_used {len(found)} times")
    return found.pop()


class Headers:
    """The few header places this script reads and writes."""

    def __init__(self, data):
        if _u(data, 0, "<H") != 0x5A4D:
            raise LoadConfigError("no MZ header")
        pe = _u(data, 0x3C, "<I")
        if _u(data, pe, "<I") != 0x4550:
            raise LoadConfigError("no PE signature")
        self.sections = _u(data, pe + 6, "<H")
        optional_size = _u(data, pe + 20, "<H")
        optional = pe + 24
        magic = _u(data, optional, "<H")
        if magic == PE32:
            self.image_base = _u(data, optional + 28, "<I")
            directories = optional + 96
        elif magic == PE32_PLUS:
            self.image_base = _u(data, optional + 24, "<Q")
            directories = optional + 112
        else:
            raise LoadConfigError(f"unknown optional header magic {magic:#x}")
        if _u(data, directories - 4, "<I") <= LOAD_CONFIG_ENTRY:
            raise LoadConfigError("the header has no load configuration entry")
        self.checksum = optional + 64
        self.entry = directories + 8 * LOAD_CONFIG_ENTRY
        self.table = optional + optional_size

    def file_offset(self, data, rva, size):
        for i in range(self.sections):
            header = self.table + 40 * i
            vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<IIII", data, header + 8)
            if vaddr <= rva and rva + size <= vaddr + min(vsize, raw_size):
                return raw_ptr + (rva - vaddr)
        raise LoadConfigError(f"the load configuration at {rva:#x} lies in no section's file bytes")


def pe_checksum(data, checksum_offset):
    """The image checksum: 16-bit one's-complement-style sum of the file, the checksum field
    taken as zero, plus the file's length."""
    padded = data + b"\0" * (len(data) % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
    for i in range(4):
        total -= padded[checksum_offset + i] << (8 * (i % 2))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def apply(data, map_text):
    """The file's bytes with the entry (and checksum) set."""
    h = Headers(data)
    rva = symbol_address(map_text) - h.image_base
    if not 0 < rva < 1 << 32:
        raise LoadConfigError(f"_load_config_used lies outside the image ({rva:#x})")
    size = _u(data, h.file_offset(data, rva, 4), "<I")
    h.file_offset(data, rva, size)
    current = struct.unpack_from("<II", data, h.entry)
    if current != (0, 0) and current != (rva, size):
        raise LoadConfigError(f"the entry points at {current[0]:#x} ({current[1]} bytes), "
                              f"not at _load_config_used ({rva:#x}, {size} bytes)")
    out = bytearray(data)
    struct.pack_into("<II", out, h.entry, rva, size)
    if _u(data, h.checksum, "<I") != 0:
        struct.pack_into("<I", out, h.checksum, pe_checksum(bytes(out), h.checksum))
    return bytes(out)


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    path, map_path = argv[1], argv[2]
    with open(map_path, encoding="utf-8", errors="replace") as f:
        map_text = f.read()
    with open(path, "r+b") as f:
        data = f.read()
        out = apply(data, map_text)
        f.seek(0)
        f.write(out)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except (LoadConfigError, OSError) as e:
        print(f"loadconfig: {e}", file=sys.stderr)
        sys.exit(1)
