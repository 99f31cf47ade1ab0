"""The golden digest of the program's module, as the Python tests check it: FNV-1a (64-bit)
of the first output ring, and the value music/tests/track_golden.h holds."""

import re

RING = 65536  # bytes of the output ring: 16 blocks of 1,024 stereo 16-bit frames


def fnv1a(data):
    h = 0xCBF29CE484222325
    for b in data:
        h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def first_ring_digest(golden_header):
    """kFirstRing of the golden header."""
    with open(golden_header) as f:
        return int(re.search(r"kFirstRing\s*=\s*(0x[0-9a-f]+)", f.read()).group(1), 16)
