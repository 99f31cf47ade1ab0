"""The execution level that each built executable's manifest asks Windows for: the program
asks for an administrator's rights (it writes into Program Files), the tools run as invoked."""
import pathlib
import sys
import unittest
import xml.etree.ElementTree as ET

import pefile

BUILD = pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else "build/windows").resolve()
RT_MANIFEST = 24
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"

EXPECTED = {
    "iTools3-Rus.exe": "requireAdministrator",
    "bin/resedit.exe": "asInvoker",
    "xmrender.exe": "asInvoker",
    "tools/uidriver.exe": "asInvoker",
}


def manifests(path):
    """[(name id, language, bytes)] of the RT_MANIFEST resources of a PE file."""
    pe = pefile.PE(str(path), fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    out = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for t in root.entries if root else []:
        if t.id != RT_MANIFEST:
            continue
        for n in t.directory.entries:
            for lang in n.directory.entries:
                s = lang.data.struct
                out.append((n.id, lang.id, pe.get_data(s.OffsetToData, s.Size)))
    pe.close()
    return out


def execution_levels(manifest):
    """(level, uiAccess) of every requestedExecutionLevel element of a manifest."""
    root = ET.fromstring(manifest)
    return [(e.get("level"), e.get("uiAccess")) for e in root.iter(ASM_V3 + "requestedExecutionLevel")]


class ManifestTest(unittest.TestCase):
    def test_each_executable_asks_for_its_level(self):
        for name, level in EXPECTED.items():
            with self.subTest(name):
                found = manifests(BUILD / name)
                # Id 1: the manifest that Windows reads when it creates the process.
                self.assertEqual([i for i, _, _ in found], [1], "one process manifest")
                self.assertEqual(execution_levels(found[0][2]), [(level, "false")])

    def test_the_program_keeps_the_rest_of_its_manifest(self):
        (_, _, data), = manifests(BUILD / "iTools3-Rus.exe")
        root = ET.fromstring(data)
        dependencies = [e.get("name") for e in root.iter("{urn:schemas-microsoft-com:asm.v1}assemblyIdentity")]
        self.assertIn("Microsoft.Windows.Common-Controls", dependencies)
        self.assertTrue(any(e.tag.endswith("dpiAwareness") for e in root.iter()))


if __name__ == "__main__":
    unittest.main()
