#!/usr/bin/env python3
"""Checks that a payload file has the format the patch run relies on.

    check_payload.py KIND FILE

KIND is pack (the resource pack written out as res_ru.data), icon (the icon file that
replaces the target's group icon) or dialog101, dialog226, dialog520 (the dialog templates
put into TSRes.dll). Prints nothing and exits 0 when the file is fine; otherwise prints what
is wrong and exits 1. The build runs it at configure time on a maintainer's own payloads.
"""

import os
import struct
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from pack import dialogs  # noqa: E402

ZIP_LOCAL = 0x04034B50
ZIP_CENTRAL = 0x02014B50
ZIP_END = 0x06054B50
ZIP_END_SIZE = 22
ZIP_CENTRAL_SIZE = 46
ZIP_LOCAL_SIZE = 30
ZIP_ENCRYPTED = 0x0001
ZIP_METHODS = (0, 8)  # stored, deflated
STRING_TABLE = "iTools_string_cn.json"

BITMAPINFOHEADER_SIZE = 40
BI_RGB = 0


class FormatError(ValueError):
    pass


def _need(data, offset, size, what):
    if offset < 0 or size < 0 or offset + size > len(data):
        raise FormatError("%s: %d bytes at %d lie past the end of the file (%d bytes)" % (what, size, offset, len(data)))


def check_pack(data):
    """A ZIP archive: local header first, end record as the last 22 bytes, no comment, no
    encrypted entry, only stored or deflated entries, and the string table at the top."""
    _need(data, 0, ZIP_LOCAL_SIZE, "first local header")
    if struct.unpack_from("<I", data, 0)[0] != ZIP_LOCAL:
        raise FormatError("the file does not begin with a ZIP local file header")
    _need(data, len(data) - ZIP_END_SIZE, ZIP_END_SIZE, "end of central directory")
    end = len(data) - ZIP_END_SIZE
    sig, disk, cd_disk, n_disk, n_total, cd_size, cd_offset, comment = struct.unpack_from("<IHHHHIIH", data, end)
    if sig != ZIP_END:
        raise FormatError("the last 22 bytes are not an end-of-central-directory record (an archive comment?)")
    if comment:
        raise FormatError("the archive has a comment")
    if disk or cd_disk or n_disk != n_total:
        raise FormatError("multi-part archives are not supported")
    if cd_offset + cd_size != end:
        raise FormatError("the central directory does not end where the end record begins")
    names = []
    pos = cd_offset
    for i in range(n_total):
        _need(data, pos, ZIP_CENTRAL_SIZE, "central directory entry %d" % i)
        (sig, _made, _need_ver, flags, method, _t, _d, _crc, _csize, _usize, name_len, extra_len, comment_len,
         _disk, _iattr, _eattr, local) = struct.unpack_from("<IHHHHHHIIIHHHHHII", data, pos)
        if sig != ZIP_CENTRAL:
            raise FormatError("central directory entry %d has a bad signature" % i)
        _need(data, pos + ZIP_CENTRAL_SIZE, name_len + extra_len + comment_len, "central directory entry %d" % i)
        name = data[pos + ZIP_CENTRAL_SIZE : pos + ZIP_CENTRAL_SIZE + name_len].decode("utf-8", "replace")
        if flags & ZIP_ENCRYPTED:
            raise FormatError("entry %s is encrypted" % name)
        if method not in ZIP_METHODS:
            raise FormatError("entry %s uses compression method %d (only stored and deflated)" % (name, method))
        _need(data, local, ZIP_LOCAL_SIZE, "local header of %s" % name)
        if struct.unpack_from("<I", data, local)[0] != ZIP_LOCAL:
            raise FormatError("the local header of %s is missing" % name)
        names.append(name)
        pos += ZIP_CENTRAL_SIZE + name_len + extra_len + comment_len
    if pos != end:
        raise FormatError("the central directory holds more than its entries")
    if STRING_TABLE not in names:
        raise FormatError("the pack has no top-level %s" % STRING_TABLE)


def check_icon(data):
    """A Windows icon file whose images are 32-bit uncompressed DIBs, in ascending size."""
    _need(data, 0, 6, "icon header")
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise FormatError("not an icon file (reserved %d, type %d)" % (reserved, kind))
    if count == 0:
        raise FormatError("the icon file holds no image")
    _need(data, 6, 16 * count, "icon directory")
    previous = 0
    for i in range(count):
        width, height, _c, _r, _p, _b, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        width, height = width or 256, height or 256
        _need(data, offset, size, "image %d" % (i + 1))
        if size < BITMAPINFOHEADER_SIZE:
            raise FormatError("image %d is too small for a bitmap header" % (i + 1))
        hsize, w, h, _planes, bits, compression = struct.unpack_from("<IiiHHI", data, offset)
        if hsize != BITMAPINFOHEADER_SIZE or compression != BI_RGB or bits != 32:
            raise FormatError("image %d is not an uncompressed 32-bit bitmap" % (i + 1))
        if w != width or h != 2 * height:
            raise FormatError("image %d: its header says %d x %d, the directory %d x %d" % (i + 1, w, h // 2, width, height))
        if width < previous:
            raise FormatError("the images are not in ascending size")
        previous = width


def _sz_or_ord(data, pos, what):
    _need(data, pos, 2, what)
    first = struct.unpack_from("<H", data, pos)[0]
    if first == 0xFFFF:
        _need(data, pos, 4, what)
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    text = []
    while True:
        _need(data, pos, 2, what)
        unit = struct.unpack_from("<H", data, pos)[0]
        pos += 2
        if unit == 0:
            return "".join(map(chr, text)), pos
        text.append(unit)


def parse_dialog(data):
    """(header dict, [(id, class atom or name, style, caption)]) of a DLGTEMPLATEEX."""
    _need(data, 0, 26, "dialog header")
    ver, sig, help_id, ex_style, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data, 0)
    if ver != 1 or sig != 0xFFFF:
        raise FormatError("not an extended dialog template (version %d, signature 0x%04X)" % (ver, sig))
    menu, pos = _sz_or_ord(data, 26, "menu")
    cls, pos = _sz_or_ord(data, pos, "class")
    title, pos = _sz_or_ord(data, pos, "title")
    header = {"help": help_id, "exstyle": ex_style, "style": style, "pos": (x, y), "size": (cx, cy),
              "menu": menu, "class": cls, "title": title}
    if style & dialogs.DS_SETFONT:
        _need(data, pos, 6, "font")
        header["points"], header["weight"], header["italic"], header["charset"] = struct.unpack_from("<HHBB", data, pos)
        header["font"], pos = _sz_or_ord(data, pos + 6, "font name")
    items = []
    for i in range(count):
        pos = (pos + 3) & ~3
        _need(data, pos, 24, "item %d" % (i + 1))
        ihelp, iex, istyle, _x, _y, _w, _h, item_id = struct.unpack_from("<IIIhhhhI", data, pos)
        icls, pos = _sz_or_ord(data, pos + 24, "item %d class" % (i + 1))
        caption, pos = _sz_or_ord(data, pos, "item %d caption" % (i + 1))
        _need(data, pos, 2, "item %d creation data" % (i + 1))
        extra = struct.unpack_from("<H", data, pos)[0]
        _need(data, pos + 2, extra, "item %d creation data" % (i + 1))
        pos += 2 + extra
        items.append({"id": item_id, "class": icls, "style": istyle, "caption": caption, "help": ihelp,
                      "exstyle": iex, "extra": extra})
    return header, items


def check_dialog(data, dialog_id):
    """The header values and the item ids, classes, styles and order the target expects."""
    header, items = parse_dialog(data)
    (_, style, charset, _, expected) = dialogs.TEMPLATES[dialog_id]
    if header["style"] != style:
        raise FormatError("dialog %d: style 0x%08X, expected 0x%08X" % (dialog_id, header["style"], style))
    if header["help"] or header["exstyle"] or header["pos"] != (0, 0) or header["menu"] != "" or header["class"] != "":
        raise FormatError("dialog %d: help id, extended style, position, menu or class is not the default" % dialog_id)
    if len(items) != len(expected):
        raise FormatError("dialog %d: %d items, expected %d" % (dialog_id, len(items), len(expected)))
    for n, (item, (item_id, atom, item_style, _, _)) in enumerate(zip(items, expected), 1):
        if (item["id"], item["class"], item["style"]) != (item_id, atom, item_style):
            raise FormatError("dialog %d, item %d: id %s, class %s, style 0x%08X; expected id %d, %s, style 0x%08X"
                              % (dialog_id, n, item["id"], item["class"], item["style"], item_id,
                                 dialogs.CLASS_NAMES[atom], item_style))


CHECKS = {
    "pack": check_pack,
    "icon": check_icon,
    "dialog101": lambda d: check_dialog(d, 101),
    "dialog226": lambda d: check_dialog(d, 226),
    "dialog520": lambda d: check_dialog(d, 520),
}


def main(argv):
    if len(argv) != 3 or argv[1] not in CHECKS:
        sys.stderr.write(__doc__)
        return 2
    try:
        with open(argv[2], "rb") as f:
            data = f.read()
    except OSError as e:
        print("%s: %s" % (argv[2], e.strerror))
        return 1
    try:
        CHECKS[argv[1]](data)
    except FormatError as e:
        print("%s: %s" % (argv[2], e))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
