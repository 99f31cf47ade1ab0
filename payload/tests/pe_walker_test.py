"""The Python PE walker (payload/postlink/pe.py) against the program's own PE layout
(binary/pe.cpp, through pe_layout_probe): the same headers, faults, directories, sections and
address translations on files made here (sections with gaps in memory and in the file, tables
out of order, every header fault, random damage) and on real programs; then what the walker
alone does for the post-link steps: the header checksum against pefile's, the bounds of the
bytes a step may write, and the build stamp and load configuration steps on made files.

    pe_walker_test.py PROBE [unittest arguments]
"""
import pathlib
import random
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import pefile

PROBE = pathlib.Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else None
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "postlink"))
import buildstamp  # noqa: E402
import loadconfig  # noqa: E402
import pe  # noqa: E402

PE_AT = 0x80
FILE_ALIGNMENT = 0x200
IMAGE_BASE = 0x400000
# Sections with gaps between them in memory (0x1800-0x3000, 0x3400-0x8000) and in the file
# (0x800-0xA00), one longer in memory than in the file, one longer in the file than in memory,
# and one with no file bytes at all.
GAPPED = [(0x1000, 0x800, 0x400, 0x400), (0x3000, 0x400, 0xA00, 0x600), (0x8000, 0x2000, 0, 0),
          (0xA000, 0x100, 0x1000, 0x400)]
# Real programs of both kinds, where the machine has them (Wine's own builds).
REAL_FOLDERS = ["/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/i386-linux-gnu/wine/i386-windows"]
REAL_NAMES = ["kernel32.dll", "user32.dll", "comctl32.dll", "winmm.dll", "notepad.exe", "regedit.exe"]


def build(sections=GAPPED, plus=False, *, pe_at=PE_AT, optional_size=None, count=16, directories=None,
          checksum=0, length=None, magic=None, machine=None):
    """A PE file with the given sections ((address, size in memory, file offset, size in the
    file) each), their bytes filled with a pattern; length cuts or pads the result."""
    directories = directories or {}
    table_size = pe.DATA_DIRECTORIES_PE32_PLUS if plus else pe.DATA_DIRECTORIES_PE32
    if optional_size is None:
        optional_size = table_size + pe.MAX_DATA_DIRECTORIES * pe.DATA_DIRECTORY_SIZE
    optional = pe_at + pe.OPTIONAL_HEADER
    headers_end = optional + optional_size + pe.SECTION_HEADER_SIZE * len(sections)
    end = max([headers_end] + [raw + raw_size for _, _, raw, raw_size in sections])
    b = bytearray(max(end, optional + table_size + pe.MAX_DATA_DIRECTORIES * pe.DATA_DIRECTORY_SIZE))
    struct.pack_into("<H", b, 0, pe.DOS_MAGIC)
    struct.pack_into("<I", b, pe.DOS_PE_OFFSET, pe_at)
    struct.pack_into("<IHH", b, pe_at, pe.PE_SIGNATURE,
                     machine or (pe.MACHINE_AMD64 if plus else pe.MACHINE_I386), len(sections))
    struct.pack_into("<H", b, pe_at + pe.SIZE_OF_OPTIONAL_HEADER, optional_size)
    struct.pack_into("<H", b, optional, magic or (pe.MAGIC_PE32_PLUS if plus else pe.MAGIC_PE32))
    if plus:
        struct.pack_into("<Q", b, optional + pe.IMAGE_BASE_PE32_PLUS, IMAGE_BASE)
    else:
        struct.pack_into("<I", b, optional + pe.IMAGE_BASE_PE32, IMAGE_BASE)
    struct.pack_into("<I", b, optional + pe.CHECKSUM, checksum)
    count_field = pe.NUMBER_OF_RVA_AND_SIZES_PE32_PLUS if plus else pe.NUMBER_OF_RVA_AND_SIZES_PE32
    struct.pack_into("<I", b, optional + count_field, count)
    for k, (address, size) in directories.items():
        struct.pack_into("<II", b, optional + table_size + pe.DATA_DIRECTORY_SIZE * k, address, size)
    for i, (va, vsize, raw, raw_size) in enumerate(sections):
        header = optional + optional_size + pe.SECTION_HEADER_SIZE * i
        b[header:header + 8] = b".s%d\0\0\0\0\0" % i
        struct.pack_into("<IIII", b, header + pe.SEC_VIRTUAL_SIZE, vsize, va, raw_size, raw)
        for at in range(raw, raw + raw_size):
            b[at] = (at * 7 + i) & 0xFF
    if length is not None:
        b = b[:length] + bytes(max(0, length - len(b)))
    return bytes(b)


def section_list(data, layout):
    return [pe.read_section(data, layout, i) for i in range(layout.number_of_sections)]


def addresses(data):
    """Addresses worth translating in a file: both ends of the address space and every
    section's and directory's edges."""
    out = {0, 1, 0xFFFFFFFF}
    try:
        layout = pe.parse_layout(data)
    except pe.PeError:
        return sorted(out)
    edges = []
    for s in section_list(data, layout):
        edges += [s.virtual_address, s.virtual_address + s.virtual_size,
                  s.virtual_address + s.size_of_raw_data]
    edges += [pe.directory(data, layout, k).address for k in range(pe.MAX_DATA_DIRECTORIES)]
    for e in edges[:200]:
        out.update(x & 0xFFFFFFFF for x in (e - 1, e, e + 1))
    return sorted(out)


def hex_or_dash(value):
    return "-" if value is None else f"{value:x}"


def describe(path, rvas):
    """The probe's lines for one file, from the Python walker."""
    lines = [f"file {path}"]
    data = pathlib.Path(path).read_bytes()

    def fault(e):
        place = "- -" if e.offset is None else f"{e.offset:x} {e.size:x}"
        return f"error {e.code} {place} {e.message}"

    try:
        located = pe.locate_headers(data)
    except pe.PeError as e:
        return lines + [fault(e)]
    lines.append(f"located {located.pe:x} {located.optional_header:x} {int(located.pe32_plus)} "
                 f"{located.number_of_sections:x} {located.size_of_optional_header:x} {located.section_table:x} "
                 f"{located.data_directories:x}")
    try:
        layout = pe.parse_layout(data)
    except pe.PeError as e:
        return lines + [fault(e)]
    lines.append(f"parsed {layout.data_directory_count:x}")
    for k in range(pe.MAX_DATA_DIRECTORIES):
        d = pe.directory(data, layout, k)
        lines.append(f"dir {k:x} {d.address:x} {d.size:x}")
    for i, s in enumerate(section_list(data, layout)):
        lines.append(f"section {i:x} {s.virtual_size:x} {s.virtual_address:x} {s.size_of_raw_data:x} "
                     f"{s.pointer_to_raw_data:x} {s.pointer_to_relocations:x} {s.pointer_to_linenumbers:x} "
                     f"{s.characteristics:x}")
    for rva in rvas:
        lines.append(f"rva {rva:x} {hex_or_dash(pe.section_at(data, layout, rva))} "
                     f"{hex_or_dash(pe.section_holding(data, layout, rva))} "
                     f"{hex_or_dash(pe.rva_to_offset(data, layout, rva))}")
    return lines


def probe(requests):
    """The probe's lines for each (path, addresses) request, in order."""
    stdin = "".join(f"{path}\n{' '.join(f'{a:x}' for a in rvas)}\n" for path, rvas in requests)
    out = subprocess.run([str(PROBE)], input=stdin, capture_output=True, text=True, check=True, timeout=300).stdout
    answers, current = [], []
    for line in out.splitlines():
        if line == "end":
            answers.append(current)
            current = []
        else:
            current.append(line)
    return answers


def header_faults():
    """Files whose headers break one rule each."""
    good = build()
    no_pe = bytearray(good)
    no_pe[PE_AT:PE_AT + 2] = b"NE"
    return {
        "empty": b"",
        "one byte": b"M",
        "no MZ": b"ZM" + good[2:],
        "PE offset cut off": good[:pe.DOS_PE_OFFSET + 2],
        "PE offset outside": good[:pe.DOS_PE_OFFSET] + struct.pack("<I", 0xFFFFFFF0) + good[pe.DOS_PE_OFFSET + 4:],
        "no PE signature": bytes(no_pe),
        "file header cut off": good[:PE_AT + 20],
        "unknown magic": build(magic=0x107),
        "optional header without its directories": build(optional_size=pe.DATA_DIRECTORIES_PE32 - 4),
        "PE32+ optional header of PE32's size": build(plus=True, optional_size=pe.DATA_DIRECTORIES_PE32 + 8),
        "optional header cut off": good[:PE_AT + pe.OPTIONAL_HEADER + 0x40],
        "section table cut off": good[:PE_AT + pe.OPTIONAL_HEADER + 224 + 60],
    }


def layouts():
    """Files whose headers are sound, with their sections laid out in many ways."""
    return {
        "PE32 with gaps": build(),
        "PE32+ with gaps": build(plus=True),
        "sections out of address order": build(sections=[GAPPED[2], GAPPED[0], GAPPED[3], GAPPED[1]]),
        "two sections at one address": build(sections=[GAPPED[0], (0x1000, 0x200, 0xA00, 0x200), GAPPED[1]]),
        "no sections": build(sections=[]),
        "six directories": build(count=6, directories={2: (0x3000, 0x100), 10: (0x1000, 0x40)}),
        "more directories than there can be": build(count=0x100, directories={15: (0xA000, 0x10)}),
        "fewer directories fit than counted": build(optional_size=pe.DATA_DIRECTORIES_PE32 + 5 * 8, count=16,
                                                   directories={2: (0x3000, 0x100)}),
        "a larger optional header": build(plus=True, optional_size=0x200, directories={2: (0x3000, 0x10)}),
        "PE signature late in the file": build(pe_at=0x2F0),
        "sections past the end of the file": build(length=0xC00),
    }


def damaged(count, seed=21):
    """Sound files with random header bytes changed and random lengths."""
    rng = random.Random(seed)
    bases = [build(), build(plus=True), build(sections=[GAPPED[1], GAPPED[0]])]
    for _ in range(count):
        b = bytearray(rng.choice(bases))
        for _ in range(rng.randint(1, 6)):
            at = rng.randrange(0, min(len(b), 0x300))
            b[at] = rng.choice([0, 0xFF, rng.randrange(256)])
        if rng.random() < 0.2:
            del b[rng.randrange(len(b)):]
        yield bytes(b)


def real_programs():
    for folder in REAL_FOLDERS:
        for name in REAL_NAMES:
            path = pathlib.Path(folder) / name
            if path.is_file():
                yield path


@unittest.skipIf(PROBE is None, "no probe given")
class SameAnswersAsTheProgramsLayout(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.folder = pathlib.Path(cls.tmp.name)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def compare(self, files):
        """files: label -> bytes or path. Both walkers answer alike for every file."""
        requests, labels = [], []
        for i, (label, content) in enumerate(files.items()):
            if isinstance(content, pathlib.Path):
                path = content
            else:
                path = self.folder / f"{i}.bin"
                path.write_bytes(content)
            requests.append((str(path), addresses(path.read_bytes())))
            labels.append(label)
        for label, request, answer in zip(labels, requests, probe(requests)):
            with self.subTest(label):
                self.assertEqual(describe(*request), answer)
        return requests

    def test_made_files_with_gaps_and_every_layout(self):
        requests = self.compare(layouts())
        # The gaps are asked about: an address in one counts to the lower section.
        gapped = describe(*requests[0])
        self.assertIn("rva 1801 - 0 c01", gapped)
        self.assertIn("rva 7fff - 1 59ff", gapped)
        self.assertIn(f"rva ffffffff - 3 {0x1000 + 0xFFFFFFFF - 0xA000:x}", gapped)

    def test_every_header_fault_with_its_reason_and_place(self):
        files = header_faults()
        requests = self.compare(files)
        for (label, _), request in zip(files.items(), requests):
            with self.subTest(label):
                self.assertTrue(describe(*request)[-1].startswith("error "), "refused")

    def test_randomly_damaged_headers(self):
        self.compare({f"damaged {i}": data for i, data in enumerate(damaged(300))})

    def test_real_programs(self):
        found = {str(p): p for p in real_programs()}
        if not found:
            self.skipTest("no real programs on this machine")
        self.compare(found)


class Checksum(unittest.TestCase):
    def test_as_pefile_computes_it(self):
        files = [build(checksum=1), build(plus=True, checksum=1), build(checksum=1, length=0xC01)]
        files += [p.read_bytes() for p in real_programs()]
        for i, data in enumerate(files):
            with self.subTest(i):
                self.assertEqual(pe.checksum(data, pe.parse_layout(data)), pefile.PE(data=data, fast_load=True).generate_checksum())

    def test_a_stale_one_is_mended_and_zero_stays_zero(self):
        stale = bytearray(build(checksum=0x1234))
        self.assertTrue(pe.refresh_checksum(stale))
        self.assertFalse(pe.refresh_checksum(stale), "once is enough")
        image = pefile.PE(data=bytes(stale))
        self.assertEqual(image.OPTIONAL_HEADER.CheckSum, image.generate_checksum())
        zero = bytearray(build(checksum=0))
        self.assertFalse(pe.refresh_checksum(zero))
        self.assertEqual(bytes(zero), build(checksum=0))


class FileBytes(unittest.TestCase):
    def test_a_span_must_lie_in_its_sections_bytes_in_file_and_memory(self):
        data = build()
        layout = pe.parse_layout(data)
        cases = [
            (0x1000, 0x400, 0x400),  # the whole of the first section's file bytes
            (0x13FC, 4, 0x7FC),
            (0x13FD, 4, None),  # past its file bytes, inside its memory
            (0x1800, 4, None),  # in the gap after it
            (0x3000, 0x400, 0xA00),  # the second: as long in memory as it goes
            (0x3200, 0x201, None),  # past its memory, inside its file bytes
            (0x8000, 4, None),  # a section without file bytes
            (0xFFF, 4, None),  # in the headers
        ]
        for rva, size, offset in cases:
            with self.subTest(rva=hex(rva), size=size):
                if offset is None:
                    with self.assertRaises(pe.PeError):
                        pe.file_bytes(data, layout, rva, size, "it")
                else:
                    self.assertEqual(pe.file_bytes(data, layout, rva, size, "it"), offset)

    def test_a_section_past_the_end_of_the_file(self):
        data = build(length=0xC00)
        with self.assertRaises(pe.PeError):
            pe.file_bytes(data, pe.parse_layout(data), 0x3100, 0x200, "it")


MARCH_2010 = time.gmtime(1268645420)  # 15 March 2010, 09:30:20 UTC


class PostLinkSteps(unittest.TestCase):
    def test_the_stamp_lands_in_the_root_directory_and_the_checksum_follows(self):
        for plus in (False, True):
            with self.subTest(plus=plus):
                data = build(plus=plus, directories={pe.DIR_RESOURCE: (0x3000, 0x400)}, checksum=1)
                out = buildstamp.stamped(data, MARCH_2010)
                self.assertEqual(struct.unpack_from("<I", out, 0xA00 + pe.DIR_TIME_DATE_STAMP)[0],
                                 buildstamp.dos_stamp(MARCH_2010))
                self.assertEqual(buildstamp.decode(buildstamp.read_stamp(out)), (2010, 3, 15, 9, 30, 20))
                image = pefile.PE(data=out)
                self.assertEqual(image.OPTIONAL_HEADER.CheckSum, image.generate_checksum())
                self.assertLessEqual(sum(a != b for a, b in zip(data, out)), 8, "the stamp and the checksum")

    def test_the_stamp_refuses_a_directory_it_cannot_write(self):
        cases = {
            "no resource directory": build(),
            "a directory in a gap": build(directories={pe.DIR_RESOURCE: (0x2000, 0x10)}),
            "a directory without file bytes": build(directories={pe.DIR_RESOURCE: (0x8000, 0x10)}),
            "a directory past the end of the file": build(directories={pe.DIR_RESOURCE: (0x3100, 0x10)},
                                                          length=0xB00),
        }
        for label, data in cases.items():
            with self.subTest(label), self.assertRaises(pe.PeError):
                buildstamp.stamped(data, MARCH_2010)

    def test_the_load_configuration_entry(self):
        # The object's first field is its size.
        data = bytearray(build(plus=True, checksum=1))
        struct.pack_into("<I", data, 0x400 + 0x100, 0x40)
        struct.pack_into("<I", data, 0x400 + 0x3F0, 0x40)
        data = bytes(data)
        link_map = f"  .rdata\n                0x{IMAGE_BASE + 0x1100:016x}                _load_config_used\n"
        out = loadconfig.apply(data, link_map)
        layout = pe.parse_layout(out)
        self.assertEqual(pe.directory(out, layout, pe.DIR_LOAD_CONFIG), (0x1100, 0x40))
        image = pefile.PE(data=out)
        self.assertEqual(image.OPTIONAL_HEADER.CheckSum, image.generate_checksum())
        self.assertEqual(loadconfig.apply(out, link_map), out, "again: nothing changes")
        refused = {
            "an object without file bytes": link_map.replace(f"{IMAGE_BASE + 0x1100:016x}", f"{IMAGE_BASE + 0x8000:016x}"),
            "an object running out of its section": link_map.replace(f"{IMAGE_BASE + 0x1100:016x}",
                                                                     f"{IMAGE_BASE + 0x13F0:016x}"),
            "no object": "nothing here\n",
        }
        for label, text in refused.items():
            with self.subTest(label), self.assertRaises((pe.PeError, loadconfig.LoadConfigError)):
                loadconfig.apply(data, text)
        with self.assertRaises(loadconfig.LoadConfigError):
            loadconfig.apply(build(plus=True, count=10), link_map)


if __name__ == "__main__":
    unittest.main()
