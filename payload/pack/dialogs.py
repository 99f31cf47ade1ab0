"""The three dialog templates the patch run puts into the target's TSRes.dll, as extended
dialog templates (DLGTEMPLATEEX), with Russian captions.

The header values, item ids, classes, styles and order are those the target's code expects;
positions and sizes are this pack's layout.
"""

import struct

# Window class atoms of dialog items.
BUTTON, EDIT, STATIC, COMBOBOX = 0x0080, 0x0081, 0x0082, 0x0085
CLASS_NAMES = {BUTTON: "button", EDIT: "edit", STATIC: "static", COMBOBOX: "combobox"}

DS_SETFONT = 0x40
DS_FIXEDSYS = 0x08
FONT_FACE = "MS Shell Dlg"
FONT_POINTS = 8
FONT_WEIGHT = 400

# id: (size (cx, cy), style, font character set, title, items)
# item: (id, class, style, (x, y, cx, cy), caption)
TEMPLATES = {
    101: ((349, 266), 0x40080048, 1, "", [
        (1024, BUTTON, 0x50000007, (7, 7, 335, 52), "Папка для загрузок"),
        (1018, EDIT, 0x50810880, (17, 25, 250, 14), ""),
        (1020, BUTTON, 0x50010000, (273, 24, 60, 16), "Обзор..."),
        (1134, BUTTON, 0x50000007, (7, 67, 335, 52), "Скорость загрузки"),
        (1026, BUTTON, 0x50010003, (17, 86, 150, 10), "Ограничить скорость до"),
        (1028, EDIT, 0x50810080, (171, 84, 50, 14), ""),
        (65535, STATIC, 0x50020000, (225, 87, 24, 8), "KB/s"),
        (65535, STATIC, 0x50020000, (253, 87, 50, 8), "(10-10240)"),
    ]),
    226: ((264, 247), 0x82C800C8, 0, "Dialog", [
        (1, BUTTON, 0x50010001, (75, 222, 56, 16), "Сохранить"),
        (1000, STATIC, 0x50020000, (10, 12, 60, 8), "Название:"),
        (1002, STATIC, 0x50020000, (10, 34, 60, 8), "Исполнитель:"),
        (1006, STATIC, 0x50020000, (10, 56, 60, 8), "Альбом:"),
        (1008, STATIC, 0x50020000, (10, 78, 60, 8), "Жанр:"),
        (1005, EDIT, 0x50810080, (74, 10, 180, 14), ""),
        (1023, EDIT, 0x50810080, (74, 32, 180, 14), ""),
        (1025, EDIT, 0x50810080, (74, 54, 180, 14), ""),
        (1009, STATIC, 0x50020000, (10, 100, 60, 8), "Год:"),
        (1010, STATIC, 0x50020000, (10, 200, 120, 8), "Перевод:brisk_fenor"),
        (1088, BUTTON, 0x50010000, (74, 120, 88, 16), "Воспроизвести"),
        (1034, BUTTON, 0x50010000, (166, 120, 88, 16), "Обложка..."),
        (1040, COMBOBOX, 0x50210102, (74, 76, 180, 100), ""),
        (2, BUTTON, 0x50010000, (135, 222, 56, 16), "Отмена"),
        (1090, BUTTON, 0x50010000, (166, 142, 88, 16), "Применить ко всем"),
    ]),
    520: ((284, 137), 0x80C800C8, 1, "AppleID", [
        (1, BUTTON, 0x50010001, (160, 114, 56, 16), "Войти"),
        (2, BUTTON, 0x50010000, (220, 114, 56, 16), "Отмена"),
        (1129, EDIT, 0x50810080, (80, 40, 190, 14), ""),
        (1130, EDIT, 0x508100A0, (80, 62, 190, 14), ""),
        (1002, STATIC, 0x50020002, (10, 43, 66, 8), "AppleID:"),
        (1038, STATIC, 0x50020001, (10, 84, 264, 8), ""),
        (1118, STATIC, 0x50020100, (80, 96, 90, 8), "Забыли пароль?"),
        (1000, STATIC, 0x50020000, (10, 10, 264, 24),
         "Войдите со своим AppleID, чтобы авторизовать этот компьютер для покупок"),
        (1008, STATIC, 0x50020100, (180, 96, 90, 8), "Создать AppleID"),
        (1009, STATIC, 0x50020002, (10, 65, 66, 8), ""),
    ]),
}


def _text(s):
    return s.encode("utf-16-le") + b"\0\0"


def _align4(out):
    while len(out) % 4:
        out += b"\0"


def build(dialog_id):
    (cx, cy), style, charset, title, items = TEMPLATES[dialog_id]
    out = bytearray(struct.pack("<HHIIIHhhhh", 1, 0xFFFF, 0, 0, style, len(items), 0, 0, cx, cy))
    out += b"\0\0"  # no menu
    out += b"\0\0"  # the default dialog class
    out += _text(title)
    out += struct.pack("<HHBB", FONT_POINTS, FONT_WEIGHT, 0, charset) + _text(FONT_FACE)
    for item_id, atom, item_style, (x, y, w, h), caption in items:
        _align4(out)
        out += struct.pack("<IIIhhhhI", 0, 0, item_style, x, y, w, h, item_id)
        out += struct.pack("<HH", 0xFFFF, atom)
        out += _text(caption)
        out += b"\0\0"  # no creation data
    return bytes(out)


def build_all():
    return {"dialog%d.bin" % i: build(i) for i in TEMPLATES}
