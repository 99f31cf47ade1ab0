"""A small deterministic ZIP writer for the release archive.

Windows' own zip folder (Explorer, Windows 7 to 11) reads entry names in the system's OEM code
page and ignores the UTF-8 flag, so a Cyrillic name is stored in CP866 (the Russian OEM code
page) without that flag, and the Info-ZIP Unicode Path extra field (0x7075) carries the UTF-8
name for every other tool (7-Zip, WinRAR, Info-ZIP unzip). Python's zipfile cannot write that.

The bytes depend only on the entries, their order and the one MS-DOS date and time given for
all of them: no host, user, permission or clock of the machine goes in. Deflate is zlib's at
level 9, so the same zlib gives the same bytes.
"""
import struct
import zlib

LOCAL_HEADER = 0x04034B50
CENTRAL_HEADER = 0x02014B50
END_OF_CENTRAL_DIRECTORY = 0x06054B50
UNICODE_PATH_EXTRA = 0x7075
UNICODE_PATH_VERSION = 1

STORED, DEFLATED = 0, 8
# Made by MS-DOS (host 0), format 2.0: external attributes are MS-DOS attributes.
VERSION_MADE_BY = 20
VERSION_NEEDED = 20
UTF8_FLAG = 0x0800  # never set: Windows' zip folder would not honour it
ATTRIBUTE_DIRECTORY = 0x10
ATTRIBUTE_ARCHIVE = 0x20
OEM_CODEPAGE = "cp866"

MAX_FIELD = 0xFFFFFFFF  # no ZIP64: sizes and offsets fit 32 bits
MAX_ENTRIES = 0xFFFF


class ZipError(Exception):
    pass


def stored_name(name):
    """(bytes stored in the header, extra field) of an entry name: ASCII as it is; anything
    else in CP866 with the Unicode Path field beside it."""
    if not name or name.startswith("/") or "\\" in name or ".." in name.split("/"):
        raise ZipError(f"unusable entry name {name!r}")
    try:
        return name.encode("ascii"), b""
    except UnicodeEncodeError:
        pass
    try:
        raw = name.encode(OEM_CODEPAGE)
    except UnicodeEncodeError as e:
        raise ZipError(f"entry name {name!r} has no {OEM_CODEPAGE} form: {e.reason}") from None
    utf8 = name.encode("utf-8")
    body = struct.pack("<BI", UNICODE_PATH_VERSION, zlib.crc32(raw)) + utf8
    return raw, struct.pack("<HH", UNICODE_PATH_EXTRA, len(body)) + body


def _deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -zlib.MAX_WBITS, 9)
    return c.compress(data) + c.flush()


def build(entries, dos_stamp):
    """The archive's bytes. entries: (name, data) in the order wanted; a name ending in "/"
    with data None is a folder. dos_stamp: MS-DOS date in the high 16 bits, time in the low."""
    if len(entries) > MAX_ENTRIES:
        raise ZipError(f"{len(entries)} entries do not fit a ZIP without ZIP64")
    date, clock = dos_stamp >> 16, dos_stamp & 0xFFFF
    body, central, seen = bytearray(), bytearray(), set()
    for name, data in entries:
        folder = name.endswith("/")
        if folder != (data is None):
            raise ZipError(f"{name!r}: folders end in '/' and have no data, files the other way round")
        if name in seen:
            raise ZipError(f"{name!r} twice")
        seen.add(name)
        raw, extra = stored_name(name)
        data = b"" if folder else bytes(data)
        packed = _deflate(data) if data else b""
        method = DEFLATED if data and len(packed) < len(data) else STORED
        if method == STORED:
            packed = data
        crc = zlib.crc32(data)
        offset = len(body)
        if max(len(data), len(packed), offset) > MAX_FIELD:
            raise ZipError(f"{name!r} does not fit a ZIP without ZIP64")
        fields = struct.pack("<HHHHHIII", VERSION_NEEDED, 0, method, clock, date, crc, len(packed), len(data))
        body += struct.pack("<I", LOCAL_HEADER) + fields + struct.pack("<HH", len(raw), len(extra)) + raw + extra
        body += packed
        attributes = ATTRIBUTE_DIRECTORY if folder else ATTRIBUTE_ARCHIVE
        central += (struct.pack("<IH", CENTRAL_HEADER, VERSION_MADE_BY) + fields +
                    struct.pack("<HHHHHII", len(raw), len(extra), 0, 0, 0, attributes, offset) + raw + extra)
    if len(body) + len(central) > MAX_FIELD:
        raise ZipError("the archive does not fit a ZIP without ZIP64")
    end = struct.pack("<IHHHHIIH", END_OF_CENTRAL_DIRECTORY, 0, 0, len(entries), len(entries), len(central),
                      len(body), 0)
    return bytes(body + central + end)


def central_directory(archive):
    """[dict] of an archive's central directory entries as they lie (the raw name, flags,
    method, date, time, attributes and extra fields by tag): for checks of what was written."""

    def field(fmt, at):
        if at < 0 or at + struct.calcsize(fmt) > len(archive):
            raise ZipError(f"a field at {at} lies outside the archive")
        return struct.unpack_from(fmt, archive, at)

    end = len(archive) - 22
    sig, _, _, _, count, size, start, comment = field("<IHHHHIIH", end)
    if sig != END_OF_CENTRAL_DIRECTORY or comment or start + size != end:
        raise ZipError("no plain end record as the last 22 bytes")
    out, at = [], start
    for _ in range(count):
        (sig, made_by, needed, flags, method, clock, date, crc, csize, usize, name_len, extra_len, comment_len, _,
         _, attributes, offset) = field("<IHHHHHHIIIHHHHHII", at)
        if sig != CENTRAL_HEADER:
            raise ZipError(f"no central header at {at}")
        at += 46
        name = bytes(archive[at:at + name_len])
        extra = bytes(archive[at + name_len:at + name_len + extra_len])
        at += name_len + extra_len + comment_len
        extras, e = {}, 0
        while e + 4 <= len(extra):
            tag, length = struct.unpack_from("<HH", extra, e)
            extras[tag] = extra[e + 4:e + 4 + length]
            e += 4 + length
        out.append(dict(name=name, made_by=made_by, needed=needed, flags=flags, method=method, date=date, time=clock,
                        crc=crc, compressed=csize, size=usize, attributes=attributes, offset=offset, extras=extras))
    if at != end:
        raise ZipError("the central directory does not end where the end record says")
    return out
