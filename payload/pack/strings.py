"""The user-interface string tables: the Russian one of the pack and the Chinese one of the
stand-in target's own pack.

The keys the stand-in target reads come first, with hand-written texts; the rest of the
Russian table is phrased from a small vocabulary of the target's subjects, so every entry
is readable Russian.
"""

from art import dmath

ENTRY_COUNT = 3256

# Keys the stand-in target shows, with their Chinese and Russian texts.
STANDIN_STRINGS = [
    ("Home_Welcome", "欢迎使用 iTools", "Добро пожаловать в iTools"),
    ("Home_ConnectDevice", "请连接您的 iOS 设备", "Подключите ваше устройство iOS"),
    ("Main_Button_Backup", "一键备份", "Резервная копия в один клик"),
]

_SECTIONS = [
    "AppBox", "BookBox", "CleanUp", "DownloadBox", "Global", "HomeBox", "MainBox", "Migrator",
    "MovieBox", "MusicBox", "PhotoBox", "PhotoViewer", "PInfoBox", "RestoreBackup", "ToolBox",
    "WeChat", "Weibo",
]
_KINDS = ["Title", "Text", "Button", "Tip", "Menu", "Error", "Status"]

_VERBS = [
    "Установить", "Удалить", "Обновить", "Импортировать", "Экспортировать", "Открыть",
    "Сохранить", "Скопировать", "Переименовать", "Восстановить", "Загрузить", "Отправить",
    "Выбрать", "Проверить", "Очистить", "Синхронизировать",
]
_OBJECTS = [
    "приложение", "фотографии", "музыку", "видео", "книги", "контакты", "сообщения",
    "заметки", "закладки", "рингтон", "резервную копию", "файлы", "папку", "обои",
    "журнал вызовов", "календарь",
]
_PLACES = [
    "на устройство", "с устройства", "на компьютер", "в iTunes", "в папку загрузок",
    "из резервной копии", "в облако", "в медиатеку",
]
_STATES = [
    "Устройство не подключено", "Подождите, идёт загрузка", "Операция завершена",
    "Недостаточно свободного места", "Соединение потеряно", "Файл не найден",
    "Доступна новая версия", "Идёт синхронизация", "Проверка обновлений",
    "Готово к работе",
]


def _phrase(rng, kind):
    verb = _VERBS[rng.randint(0, len(_VERBS) - 1)]
    obj = _OBJECTS[rng.randint(0, len(_OBJECTS) - 1)]
    place = _PLACES[rng.randint(0, len(_PLACES) - 1)]
    if kind in ("Button", "Menu"):
        return "%s %s" % (verb, obj)
    if kind == "Title":
        return "%s %s" % (verb, obj)
    if kind in ("Error", "Status"):
        state = _STATES[rng.randint(0, len(_STATES) - 1)]
        return state if kind == "Status" else "Не удалось %s %s. %s." % (verb.lower(), obj, state)
    return "%s %s %s?" % (verb, obj, place) if kind == "Tip" else "%s %s %s." % (verb, obj, place)


def russian_table():
    """ENTRY_COUNT (key, text) pairs in file order."""
    entries = [(key, ru) for key, _, ru in STANDIN_STRINGS]
    rng = dmath.Lcg(0x52555353)
    n = 0
    while len(entries) < ENTRY_COUNT:
        section = _SECTIONS[n % len(_SECTIONS)]
        kind = _KINDS[(n // len(_SECTIONS)) % len(_KINDS)]
        entries.append(("%s_%s_%04d" % (section, kind, n), _phrase(rng, kind)))
        n += 1
    return entries


def chinese_table():
    return [(key, cn) for key, cn, _ in STANDIN_STRINGS]


def to_json(entries):
    """One JSON object, one entry per line, UTF-8 without a byte-order mark."""
    import json

    lines = ["    %s: %s" % (json.dumps(k, ensure_ascii=False), json.dumps(v, ensure_ascii=False))
             for k, v in entries]
    return ("{\r\n" + ",\r\n".join(lines) + "\r\n}\r\n").encode("utf-8")
