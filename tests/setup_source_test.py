"""The backports source that tools/setup.sh adds is taken from the machine's own apt source of
the release (tools/backports_source.py): its URIs, so a mirror or proxy stays in use, and its
keyring. Sample sources of both forms, deb822 and one-line, in a folder of their own."""
import pathlib
import subprocess
import sys
import tempfile
import textwrap
import unittest

SCRIPT = pathlib.Path(__file__).resolve().parent.parent / "tools" / "backports_source.py"
# Scheme and names put together here: no host name is written out in the repository.
WEB = "http" + "://"
MIRROR = WEB + "mirror.corp.example/debian"
PROXY = WEB + "apt-cache.corp.example:3142/debian"
SECURITY = WEB + "mirror.corp.example/debian-security"
KEYRING = "/usr/share/keyrings/debian-archive-keyring.gpg"


def source_file(folder, name, text):
    path = folder / name
    path.write_text(textwrap.dedent(text).lstrip("\n"))
    return path


class BackportsSourceTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.etc = pathlib.Path(self.tmp.name)
        self.parts = self.etc / "sources.list.d"
        self.parts.mkdir()
        self.own = self.parts / "itr-backports.sources"

    def run_script(self, codename="bookworm"):
        return subprocess.run([sys.executable, str(SCRIPT), codename, "--sources-list", str(self.etc / "sources.list"),
                               "--sources-parts", str(self.parts), "--skip", str(self.own)],
                              capture_output=True, text=True, timeout=60)

    def source(self, codename="bookworm"):
        r = self.run_script(codename)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout

    def fields(self, text):
        """{field: value} of the one stanza, comments left out."""
        out = {}
        for line in text.splitlines():
            if line and not line.startswith(("#", " ")):
                key, _, value = line.partition(":")
                out[key] = value.strip()
        return out

    def test_deb822_main_suite_gives_its_uris_and_keyring(self):
        source_file(self.parts, "debian.sources", f"""
            Types: deb
            # a comment inside the stanza
            URIs: {MIRROR}
            Suites: bookworm bookworm-updates
            Components: main contrib
            Signed-By: {KEYRING}

            Types: deb
            URIs: {SECURITY}
            Suites: bookworm-security
            Components: main
            Signed-By: {KEYRING}
            """)
        self.assertEqual(self.fields(self.source()),
                         {"Types": "deb", "URIs": MIRROR, "Suites": "bookworm-backports", "Components": "main",
                          "Signed-By": KEYRING})

    def test_one_line_entry_with_options_gives_its_uri_and_keyring(self):
        key = "/etc/apt/keyrings/corp.gpg"
        source_file(self.etc, "sources.list", f"""
            # the release through the company's proxy
            deb-src {PROXY} bookworm main
            deb {SECURITY} bookworm-security main
            deb [ arch=amd64,i386 signed-by={key} ] {PROXY} bookworm main non-free-firmware # proxy
            deb {MIRROR} bookworm main
            """)
        self.assertEqual(self.fields(self.source()),
                         {"Types": "deb", "URIs": PROXY, "Suites": "bookworm-backports", "Components": "main",
                          "Signed-By": key})

    def test_one_line_entry_without_keyring_or_trusted(self):
        source_file(self.etc, "sources.list", f"deb [trusted=yes] {MIRROR} bookworm main\n")
        fields = self.fields(self.source())
        self.assertEqual(fields["URIs"], MIRROR)
        self.assertNotIn("Signed-By", fields)
        self.assertEqual(fields["Trusted"], "yes")

    def test_apt_order_and_what_apt_does_not_read(self):
        # sources.list first, then the parts by name; disabled stanzas, other file names and
        # the file setup wrote before are not sources of the release.
        other = WEB + "other.example/debian"
        source_file(self.parts, "a-disabled.sources", f"""
            Enabled: no
            Types: deb
            URIs: {other}
            Suites: bookworm
            Components: main
            """)
        source_file(self.parts, "b.list.disabled", f"deb {other} bookworm main\n")
        source_file(self.parts, "c-contrib-only.list", f"deb {other} bookworm contrib\n")
        source_file(self.parts, "d-mirror.sources", f"""
            Types: deb deb-src
            URIs: {MIRROR} {PROXY}
            Suites: bookworm
            Components: main
            """)
        source_file(self.parts, "e-later.list", f"deb {other} bookworm main\n")
        self.own.write_text(f"Types: deb\nURIs: {other}\nSuites: bookworm\nComponents: main\n")
        fields = self.fields(self.source())
        self.assertEqual(fields["URIs"], f"{MIRROR} {PROXY}", "every URI of the stanza")
        self.assertNotIn("Signed-By", fields)
        source_file(self.etc, "sources.list", f"deb {other} bookworm main\n")
        self.assertEqual(self.fields(self.source())["URIs"], other, "sources.list comes first")

    def test_an_embedded_key_is_carried_whole(self):
        key = ["-----BEGIN PGP PUBLIC KEY BLOCK-----", ".", "mDMEZ0Rlc3RrZXk=", "=abcd",
               "-----END PGP PUBLIC KEY BLOCK-----"]
        stanza = (f"Types: deb\nURIs: {MIRROR}\nSuites: bookworm\nComponents: main\nSigned-By:\n" +
                  "".join(f" {line}\n" for line in key))
        source_file(self.parts, "debian.sources", stanza)
        text = self.source()
        self.assertIn("Signed-By:\n" + "".join(f" {line}\n" for line in key), text)
        # What is written parses as the same source again, now of the backports suite.
        self.own.unlink(missing_ok=True)
        (self.parts / "debian.sources").unlink()
        source_file(self.parts, "again.sources", text.replace("bookworm-backports", "bookworm"))
        self.assertEqual(self.source().splitlines()[1:], text.splitlines()[1:])

    def test_no_source_of_the_release_is_an_error(self):
        source_file(self.parts, "debian.sources", f"""
            Types: deb
            URIs: {MIRROR}
            Suites: trixie
            Components: main
            """)
        r = self.run_script("bookworm")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, "")
        self.assertIn("bookworm-backports cannot be added", r.stderr)


if __name__ == "__main__":
    unittest.main()
