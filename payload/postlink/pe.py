"""The layout of a PE file (PE32 and PE32+ alike) for the steps that rewrite the linked programs
and for the tests that read them: where the headers, the data directories and the section table
are, which section holds an address and at which file offset it lies, and the header checksum.

The rules are those of binary/pe.cpp, the program's own reading of the format, function for
function (payload/tests/pe_walker_test.py holds the two to the same answers): an address
belongs to the first section, in table order, that starts at or below it while the next one
starts above it, so an address in a gap between two sections counts to the lower one; its
file offset is that section's PointerToRawData plus its distance from the section's start.
Every read is checked against the file's length; a fault raises PeError with its place.
"""
import struct
from dataclasses import dataclass
from typing import NamedTuple

DOS_MAGIC = 0x5A4D  # "MZ"
DOS_PE_OFFSET = 0x3C
PE_SIGNATURE = 0x00004550  # "PE\0\0"

# File header, relative to the PE signature.
MACHINE = 4
NUMBER_OF_SECTIONS = 6
SIZE_OF_OPTIONAL_HEADER = 20
OPTIONAL_HEADER = 24
FILE_HEADER_READ = OPTIONAL_HEADER + 2  # up to the optional header's magic
MACHINE_I386, MACHINE_AMD64 = 0x14C, 0x8664

# Optional header, relative to its start.
MAGIC = 0
MAGIC_PE32, MAGIC_PE32_PLUS = 0x10B, 0x20B
IMAGE_BASE_PE32, IMAGE_BASE_PE32_PLUS = 28, 24
CHECKSUM = 64
NUMBER_OF_RVA_AND_SIZES_PE32, NUMBER_OF_RVA_AND_SIZES_PE32_PLUS = 92, 108
DATA_DIRECTORIES_PE32, DATA_DIRECTORIES_PE32_PLUS = 96, 112

# Data directory entries.
DATA_DIRECTORY_SIZE = 8
MAX_DATA_DIRECTORIES = 16
DIR_RESOURCE = 2
DIR_LOAD_CONFIG = 10

# Section header.
SECTION_HEADER_SIZE = 40
SEC_VIRTUAL_SIZE = 8
SEC_VIRTUAL_ADDRESS = 12
SEC_SIZE_OF_RAW_DATA = 16
SEC_POINTER_TO_RAW_DATA = 20
SEC_POINTER_TO_RELOCATIONS = 24
SEC_POINTER_TO_LINENUMBERS = 28
SEC_CHARACTERISTICS = 36

# Resource directory table (IMAGE_RESOURCE_DIRECTORY).
DIR_TABLE_SIZE = 16
DIR_TIME_DATE_STAMP = 4

MAX_FILE_SIZE = 0xFFFFFFFF  # offsets in the headers are 32-bit

# Kinds of fault, as binary/error.h names them.
TRUNCATED, BAD_SIGNATURE, MALFORMED, NOT_FOUND, UNSUPPORTED = (
    "Truncated", "BadSignature", "Malformed", "NotFound", "Unsupported")


class PeError(Exception):
    """A fault of the file: its kind, what it is in words and where it lies ([offset,
    offset + size); no offset for a fault without a place)."""

    def __init__(self, code, message, offset=None, size=0):
        self.code, self.message, self.offset, self.size = code, message, offset, size
        super().__init__(self.text())

    def text(self):
        if self.offset is None:
            return self.message
        if self.size == 0:
            return f"{self.message} (offset {self.offset:#x})"
        return f"{self.message} (offset {self.offset:#x}, {self.size} bytes)"


def has(data, offset, size):
    return 0 <= offset and size >= 0 and offset + size <= len(data)


def _read(data, offset, fmt, what):
    size = struct.calcsize(fmt)
    if not has(data, offset, size):
        raise PeError(TRUNCATED, what or "the read lies outside the file", offset, size)
    return struct.unpack_from(fmt, data, offset)[0]


def u16(data, offset, what=None):
    return _read(data, offset, "<H", what)


def u32(data, offset, what=None):
    return _read(data, offset, "<I", what)


def u64(data, offset, what=None):
    return _read(data, offset, "<Q", what)


@dataclass
class Layout:
    """The positions of one file's header fields, all as file offsets."""
    pe: int = 0  # the PE signature
    optional_header: int = 0
    pe32_plus: bool = False
    number_of_sections: int = 0
    size_of_optional_header: int = 0
    section_table: int = 0
    data_directories: int = 0
    # Data directory entries present (NumberOfRvaAndSizes, at most 16, and what fits); set by
    # parse_layout, left 0 by locate_headers.
    data_directory_count: int = 0

    def optional(self, field):
        return self.optional_header + field

    def dir_address(self, k):
        return self.data_directories + DATA_DIRECTORY_SIZE * k

    def has_dir(self, k):
        return k < self.data_directory_count

    def section(self, i):
        return self.section_table + SECTION_HEADER_SIZE * i

    def section_table_end(self):
        return self.section(self.number_of_sections)


class DataDirectory(NamedTuple):
    address: int  # an RVA (the certificate table: a file offset)
    size: int


class Section(NamedTuple):
    virtual_size: int
    virtual_address: int
    size_of_raw_data: int
    pointer_to_raw_data: int
    pointer_to_relocations: int
    pointer_to_linenumbers: int
    characteristics: int


def locate_headers(data):
    """The "MZ" and "PE" signatures, the file header and the optional header's magic; nothing
    beyond."""
    if not has(data, 0, 2) or u16(data, 0) != DOS_MAGIC:
        raise PeError(BAD_SIGNATURE, "no MZ signature", 0, 2)
    if not has(data, DOS_PE_OFFSET, 4):
        raise PeError(BAD_SIGNATURE, "no PE signature", DOS_PE_OFFSET, 4)
    pe = u32(data, DOS_PE_OFFSET)
    if not has(data, pe, 4) or u32(data, pe) != PE_SIGNATURE:
        raise PeError(BAD_SIGNATURE, "no PE signature", pe, 4)
    if len(data) > MAX_FILE_SIZE:
        raise PeError(UNSUPPORTED, "the file is larger than a PE file can be", 0, len(data))
    if not has(data, pe, FILE_HEADER_READ):
        raise PeError(TRUNCATED, "the file header is truncated", pe, FILE_HEADER_READ)
    layout = Layout(pe=pe, optional_header=pe + OPTIONAL_HEADER)
    layout.number_of_sections = u16(data, pe + NUMBER_OF_SECTIONS)
    layout.size_of_optional_header = u16(data, pe + SIZE_OF_OPTIONAL_HEADER)
    magic = u16(data, layout.optional(MAGIC))
    if magic == MAGIC_PE32:
        layout.data_directories = layout.optional(DATA_DIRECTORIES_PE32)
    elif magic == MAGIC_PE32_PLUS:
        layout.pe32_plus = True
        layout.data_directories = layout.optional(DATA_DIRECTORIES_PE32_PLUS)
    else:
        raise PeError(UNSUPPORTED, "unknown optional header magic", layout.optional_header, 2)
    layout.section_table = layout.optional_header + layout.size_of_optional_header
    return layout


def parse_layout(data):
    """locate_headers, then the optional header holds its data directories and it and the
    section table lie inside the file."""
    layout = locate_headers(data)
    directories = layout.data_directories - layout.optional_header
    if layout.size_of_optional_header < directories or not has(data, layout.optional_header,
                                                               layout.size_of_optional_header):
        raise PeError(TRUNCATED, "the optional header is truncated", layout.optional_header,
                      layout.size_of_optional_header)
    count_field = NUMBER_OF_RVA_AND_SIZES_PE32_PLUS if layout.pe32_plus else NUMBER_OF_RVA_AND_SIZES_PE32
    count = u32(data, layout.optional(count_field))
    fits = (layout.size_of_optional_header - directories) // DATA_DIRECTORY_SIZE
    layout.data_directory_count = min(count, fits, MAX_DATA_DIRECTORIES)
    table_size = layout.number_of_sections * SECTION_HEADER_SIZE
    if not has(data, layout.section_table, table_size):
        raise PeError(TRUNCATED, "the section table lies outside the file", layout.section_table, table_size)
    return layout


def machine(data):
    """The file header's machine (MACHINE_I386, MACHINE_AMD64, ...)."""
    return u16(data, locate_headers(data).pe + MACHINE)


def image_base(data, layout):
    if layout.pe32_plus:
        return u64(data, layout.optional(IMAGE_BASE_PE32_PLUS), "the optional header is truncated")
    return u32(data, layout.optional(IMAGE_BASE_PE32), "the optional header is truncated")


def directory(data, layout, k):
    """Data directory entry k of a parsed layout; (0, 0) for one the header does not have."""
    if not layout.has_dir(k):
        return DataDirectory(0, 0)
    return DataDirectory(*struct.unpack_from("<II", data, layout.dir_address(k)))


def read_section(data, layout, i):
    """Section header i of a parsed layout (i below number_of_sections)."""
    h = layout.section(i)
    return Section(*(struct.unpack_from("<I", data, h + field)[0] for field in (
        SEC_VIRTUAL_SIZE, SEC_VIRTUAL_ADDRESS, SEC_SIZE_OF_RAW_DATA, SEC_POINTER_TO_RAW_DATA,
        SEC_POINTER_TO_RELOCATIONS, SEC_POINTER_TO_LINENUMBERS, SEC_CHARACTERISTICS)))


def section_at(data, layout, rva):
    """The first section, in table order, that starts at the address; None when none does."""
    for i in range(layout.number_of_sections):
        if read_section(data, layout, i).virtual_address == rva:
            return i
    return None


def section_holding(data, layout, rva):
    """The section an address falls in: the first, in table order, that starts at or below it
    while the next one starts above it (the last reaches to the end of the address space); an
    address in a gap between two sections counts to the lower one. None before every section."""
    n = layout.number_of_sections
    for i in range(n):
        last = i + 1 == n
        if read_section(data, layout, i).virtual_address <= rva and (
                last or read_section(data, layout, i + 1).virtual_address > rva):
            return i
    return None


def rva_to_offset(data, layout, rva):
    """The file offset of an address, through the section that holds it (not checked against
    the file: the caller's read is); None when no section holds it."""
    i = section_holding(data, layout, rva)
    if i is None:
        return None
    s = read_section(data, layout, i)
    return s.pointer_to_raw_data + (rva - s.virtual_address)


def file_bytes(data, layout, rva, size, what):
    """The file offset of the size bytes at rva, which must lie in the file bytes of the one
    section that holds the address (those it has both in the file and in memory) and inside
    the file: what a step that writes them must not reach beyond."""
    i = section_holding(data, layout, rva)
    if i is not None:
        s = read_section(data, layout, i)
        end = s.virtual_address + min(s.virtual_size, s.size_of_raw_data)
        offset = s.pointer_to_raw_data + (rva - s.virtual_address)
        if rva + size <= end and has(data, offset, size):
            return offset
    raise PeError(TRUNCATED, f"{what} at {rva:#x} lies in no section's file bytes")


def checksum_offset(layout):
    return layout.optional(CHECKSUM)


def checksum(data, layout):
    """The header checksum of the file: its 16-bit words summed with the carries folded back
    in, the checksum field taken as zero, plus the file's length."""
    field = checksum_offset(layout)
    padded = bytes(data) + b"\0" * (len(data) % 2)
    total = sum(word for (word,) in struct.iter_unpack("<H", padded))
    total -= u16(padded, field) + u16(padded, field + 2)
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def refresh_checksum(buffer):
    """Brings a non-zero header checksum of the file in buffer (a bytearray) up to date; a
    zero one stays zero (the system checks only non-zero ones). True when the field changed."""
    layout = parse_layout(buffer)
    field = checksum_offset(layout)
    old = u32(buffer, field, "the optional header is truncated")
    if old == 0:
        return False
    new = checksum(buffer, layout)
    struct.pack_into("<I", buffer, field, new)
    return new != old
