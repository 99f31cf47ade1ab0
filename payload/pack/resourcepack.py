"""The resource packs: the Russian pack embedded as RES_RU (written out as res_ru.data) and
the stand-in target's small Chinese pack (res_cn.data).

A pack is a plain ZIP archive: folder entries stored, empty files stored, every other file
deflated, no archive comment, fixed time stamps so that the build is repeatable.
"""

import io
import json
import zipfile

from art import dmath

from . import pictures, strings

SECTIONS = [
    "AppBox", "BookBox", "CleanUp", "DownloadBox", "Global", "HomeBox", "MainBox", "Migrator",
    "MovieBox", "MusicBox", "PhotoBox", "PhotoViewer", "PInfoBox", "RestoreBackup", "ToolBox",
    "WeChat", "Weibo",
]
STRING_TABLE = "iTools_string_cn.json"
PACK_SCRIPT = "cop.cmd"

PNG_COUNT = 401
JPEG_IN_IMAGES = 47  # and one more in picture/
GIF_FOLDERS = {"HomeBox": 3, "MainBox": 3}
CURSOR_FOLDERS = {"PhotoViewer": 4, "Global": 4}
EMPTY_STRINGS_FOLDERS = ["Global"]
BMP_FOLDER = "MainBox"
FONT_COUNT = 71
EMPTY_FONTS = {("WeChat", 0), ("Weibo", 0)}  # (section, index): font files left empty
LAYOUT = ("HomeBox", "home.layout")

# Fixed time stamp of every entry (the ZIP format's local date and time).
STAMP = (2016, 3, 14, 12, 0, 0)
# Attributes: MS-DOS directory and archive bits.
ATTR_DIRECTORY = 0x10
ATTR_ARCHIVE = 0x20

_WORDS = [
    "platform", "close", "min", "max", "back", "bg", "logo", "button", "icon", "tab", "list",
    "scroll", "arrow", "check", "search", "device", "battery", "shadow", "frame", "title",
    "menu", "progress", "slider", "badge", "avatar", "folder", "play", "pause", "next", "prev",
]
_STATES = ["normal", "hover", "pressed", "disabled"]
_FONT_NAMES = ["Default", "Default", "Default", "Title", "Small", "Bold"]


def _split(total, parts):
    """total items over parts buckets, the first buckets one larger."""
    base, extra = divmod(total, parts)
    return [base + (1 if i < extra else 0) for i in range(parts)]


def _font_json(rng, name):
    face = "Microsoft YaHei" if name != "Small" else "Tahoma"
    font = {
        "height": -rng.randint(11, 18),
        "weight": 700 if name in ("Bold", "Title") else 400,
        "charset": 204,
        "outprecision": 0,
        "clipprecision": 0,
        "quality": 5,
        "pitchandfamily": 0,
        "facename": face,
    }
    return json.dumps(font, separators=(",", ":")).encode("ascii")


def _uir_json(section, images):
    """Element names, some per button state, mapped to an image id and a source rectangle."""
    table = {}
    for n, (image_id, word, size) in enumerate(images):
        w, h = size
        name = "%s_%s_%d" % (section.lower(), word, n)
        if word in ("button", "close", "min", "max", "tab", "check"):
            table[name] = {
                s: {"image": image_id, "rect": [0, i * (h // 4), w, h // 4]} for i, s in enumerate(_STATES)
            }
        else:
            table[name] = {"image": image_id, "rect": [0, 0, w, h]}
    return json.dumps(table, indent=1, sort_keys=True).encode("utf-8")


def _layout_json():
    layout = {
        "name": "home",
        "children": [
            {"id": "device_info", "x": 24, "y": 64, "width": 320, "height": 180},
            {"id": "quick_tools", "x": 360, "y": 64, "width": 400, "height": 180},
            {"id": "storage_bar", "x": 24, "y": 260, "width": 736, "height": 40},
        ],
    }
    return json.dumps(layout, indent=2).encode("utf-8")


PACK_SCRIPT_TEXT = (
    "@echo off\r\n"
    "rem Packs the folder given as the first argument into res_ru.data beside this script.\r\n"
    "rem Usage: cop.cmd FOLDER\r\n"
    "if \"%~1\"==\"\" (echo usage: %~nx0 FOLDER & exit /b 1)\r\n"
    "set OUT=%~dp0res_ru.zip\r\n"
    "if exist \"%OUT%\" del \"%OUT%\"\r\n"
    "powershell -NoProfile -Command \"Compress-Archive -Path '%~1\\*' -DestinationPath '%OUT%'\" || exit /b 1\r\n"
    "move /y \"%OUT%\" \"%~dp0res_ru.data\" >nul\r\n"
)


def russian_entries():
    """(path, bytes or None for a folder) in archive order."""
    entries = []
    png_split = _split(PNG_COUNT, len(SECTIONS))
    jpeg_split = _split(JPEG_IN_IMAGES, len(SECTIONS))
    font_split = _split(FONT_COUNT, len(SECTIONS))
    next_id = 1000
    for s, section in enumerate(SECTIONS):
        rng = dmath.Lcg(0x50414B00 + s)
        images = []
        files = []
        for kind, count in (("png", png_split[s]), ("jpg", jpeg_split[s]), ("bmp", 1 if section == BMP_FOLDER else 0)):
            for _ in range(count):
                word = _WORDS[rng.randint(0, len(_WORDS) - 1)]
                w, h = rng.randint(2, 6) * 8, rng.randint(2, 6) * 8
                seed = next_id * 7919
                data = {"png": pictures.png, "jpg": pictures.jpg, "bmp": pictures.bmp}[kind](w, h, seed)
                files.append(("%s/images/%d_%s.%s" % (section, next_id, word, kind), data))
                images.append((next_id, word, (w, h)))
                next_id += 1
        entries.append((section + "/", None))
        entries.append((section + "/uir.json", _uir_json(section, images)))
        entries.append((section + "/images/", None))
        entries.extend(files)
        entries.append((section + "/fonts/", None))
        for i in range(font_split[s]):
            name = _FONT_NAMES[i % len(_FONT_NAMES)] if i else "Default"
            data = b"" if (section, i) in EMPTY_FONTS else _font_json(rng, name)
            entries.append(("%s/fonts/%d_%s" % (section, i + 1, name), data))
        if section in GIF_FOLDERS:
            entries.append((section + "/gif/", None))
            for i in range(GIF_FOLDERS[section]):
                entries.append(("%s/gif/%d_loading.gif" % (section, 3000 + i), pictures.animated_gif(24, 24, s * 100 + i)))
        if section in CURSOR_FOLDERS:
            entries.append((section + "/cursor/", None))
            for i, word in zip(range(CURSOR_FOLDERS[section]), ["hand", "move", "zoomin", "zoomout"]):
                entries.append(("%s/cursor/%d_%s.cur" % (section, 4000 + i, word), pictures.cursor(32, s * 50 + i, (8, 8))))
        if section in EMPTY_STRINGS_FOLDERS:
            entries.append((section + "/strings/", None))
        if section == LAYOUT[0]:
            entries.append(("%s/%s" % LAYOUT, _layout_json()))
    entries.append(("picture/", None))
    entries.append(("picture/5000_background.jpg", pictures.jpg(96, 64, 5000)))
    entries.append((STRING_TABLE, strings.to_json(strings.russian_table())))
    entries.append((PACK_SCRIPT, PACK_SCRIPT_TEXT.encode("ascii")))
    return entries


def chinese_entries():
    """The stand-in target's own pack: one folder, its picture and the Chinese strings."""
    return [
        ("HomeBox/", None),
        ("HomeBox/uir.json", _uir_json("HomeBox", [(1000, "logo", (32, 32))])),
        ("HomeBox/images/", None),
        ("HomeBox/images/1000_logo.png", pictures.png(32, 32, 1000)),
        (STRING_TABLE, strings.to_json(strings.chinese_table())),
    ]


def write_zip(entries):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        for path, data in entries:
            info = zipfile.ZipInfo(path, date_time=STAMP)
            info.create_system = 0  # made on Windows: the attributes are MS-DOS ones
            if data is None:
                info.external_attr = ATTR_DIRECTORY
                info.compress_type = zipfile.ZIP_STORED
                data = b""
            else:
                info.external_attr = ATTR_ARCHIVE
                info.compress_type = zipfile.ZIP_DEFLATED if data else zipfile.ZIP_STORED
            z.writestr(info, data, compresslevel=9)
    return out.getvalue()


def build_russian():
    return write_zip(russian_entries())


def build_chinese():
    return write_zip(chinese_entries())
