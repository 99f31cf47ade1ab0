#!/usr/bin/env python3
"""Points a linked PE file's load configuration entry (data directory 10) at the image's
`_load_config_used` object, as newer linkers do themselves, and keeps a non-zero header
checksum valid. The PE layout is that of pe.py.

    loadconfig.py FILE MAP    MAP: the linker's map file of FILE (-Wl,-Map=MAP)

The object's address comes from the map (the file itself may be stripped), its size from the
object's first field. An entry that the linker has filled already must agree with both; a
file or map without the object is an error.
"""
import re
import struct
import sys

import pe

# C names of 32-bit images carry a leading underscore.
SYMBOL = re.compile(r"^\s+0x([0-9a-fA-F]+)\s+_?_load_config_used\s*$")


class LoadConfigError(Exception):
    pass


def symbol_address(map_text):
    found = {int(m.group(1), 16) for m in map(SYMBOL.match, map_text.splitlines()) if m}
    if len(found) != 1:
        raise LoadConfigError(f"the map defines _load_config_used {len(found)} times")
    return found.pop()


def apply(data, map_text):
    """The file's bytes with the entry (and checksum) set."""
    layout = pe.parse_layout(data)
    if not layout.has_dir(pe.DIR_LOAD_CONFIG):
        raise LoadConfigError("the header has no load configuration entry")
    rva = symbol_address(map_text) - pe.image_base(data, layout)
    if not 0 < rva < 1 << 32:
        raise LoadConfigError(f"_load_config_used lies outside the image ({rva:#x})")
    what = "the load configuration"
    size = pe.u32(data, pe.file_bytes(data, layout, rva, 4, what))
    pe.file_bytes(data, layout, rva, size, what)
    current = pe.directory(data, layout, pe.DIR_LOAD_CONFIG)
    if current != (0, 0) and current != (rva, size):
        raise LoadConfigError(f"the entry points at {current.address:#x} ({current.size} bytes), "
                              f"not at _load_config_used ({rva:#x}, {size} bytes)")
    out = bytearray(data)
    struct.pack_into("<II", out, layout.dir_address(pe.DIR_LOAD_CONFIG), rva, size)
    pe.refresh_checksum(out)
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
    except (LoadConfigError, pe.PeError, OSError) as e:
        print(f"loadconfig: {e}", file=sys.stderr)
        sys.exit(1)
