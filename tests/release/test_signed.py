"""A signed release: both programs signed with a throwaway certificate made here, the signatures
checked with osslsigncode against that certificate as the trusted root, and the signed 64-bit
program, taken from the archive, run under Wine: its About box shows the release's build
stamp, and a patch run on a copy of the stand-in completes. The signer leaves a valid header
checksum."""
import os
import secrets
import shutil
import subprocess
import unittest

import pefile

import releasetest as rt
import itr
import patchcheck as pc

X64, X86, VERSION = rt.builds()
SIGNED_NAMES = ("iTools3-Rus.exe", "x64/iTools3-Rus.exe")


def verify(path, root_certificate):
    """osslsigncode's verdict on a file's Authenticode signature: (passed, its output)."""
    r = subprocess.run(["osslsigncode", "verify", "-CAfile", str(root_certificate), "-in", str(path)],
                       capture_output=True, text=True, errors="replace", stdin=subprocess.DEVNULL, timeout=120)
    return r.returncode == 0, r.stdout + r.stderr


class SignedReleaseTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.h = itr.Harness(X64)
        cls.keys = cls.h.scratch / "keys"
        cls.keys.mkdir()
        cls.password = secrets.token_hex(16)
        (cls.keys / "password").write_text(cls.password + "\n")  # as an editor saves it
        for args in (["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-keyout", "key.pem", "-out",
                      "cert.pem", "-subj", "/CN=iTools3-Rus throwaway test signer", "-addext",
                      "keyUsage=critical,digitalSignature", "-addext", "extendedKeyUsage=codeSigning"],
                     ["pkcs12", "-export", "-inkey", "key.pem", "-in", "cert.pem", "-out", "signer.p12", "-passout",
                      "file:password"]):
            subprocess.run(["openssl", *args], cwd=cls.keys, check=True, capture_output=True,
                           stdin=subprocess.DEVNULL, timeout=120)
        cls.p12, cls.cert = cls.keys / "signer.p12", cls.keys / "cert.pem"

    @classmethod
    def tearDownClass(cls):
        cls.h.cleanup()

    def package(self, out, args, password_in_environment=None):
        env = {k: v for k, v in os.environ.items() if k != "ITR_SIGN_PASSWORD"}
        if password_in_environment is not None:
            env["ITR_SIGN_PASSWORD"] = password_in_environment
        return rt.package(X64, X86, VERSION, out, args=["--sign", self.p12, *args], env=env)

    def test_signed_programs_verify_and_the_64_bit_one_runs(self):
        out = self.h.scratch / "signed"
        run = self.package(out, [], password_in_environment=self.password)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertNotIn(self.password, run.stdout + run.stderr)
        self.assertIn(f"signed with {self.p12}", run.stdout.rstrip().splitlines()[-1])
        for name in SIGNED_NAMES:
            passed, report = verify(out / name, self.cert)
            self.assertTrue(passed, f"{name}: {report}")
            # The signer sets the header checksum of the file it writes.
            image = pefile.PE(str(out / name), fast_load=True)
            self.assertNotEqual(image.OPTIONAL_HEADER.CheckSum, 0, name)
            self.assertEqual(image.OPTIONAL_HEADER.CheckSum, image.generate_checksum(), name)
            image.close()
        passed, _ = verify(X64 / rt.PROGRAM, self.cert)
        self.assertFalse(passed, "the unsigned build does not pass")
        check = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=out, capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, "the sums are those of the signed programs")

        # As a user takes it: out of the archive, into the target folder.
        unpacked = rt.unzip(rt.archive(out, VERSION), self.h.scratch / "unpacked")
        self.assertEqual((unpacked / "x64/iTools3-Rus.exe").read_bytes(), (out / "x64/iTools3-Rus.exe").read_bytes())
        folder = self.h.target_folder("target", "standin", program=False)
        shutil.copy2(unpacked / "x64/iTools3-Rus.exe", folder / rt.PROGRAM)
        exe_before, dll_before = pc.resources(folder / "iTools.exe"), pc.resources(folder / "TSRes.dll")
        with itr.russian_formats():
            r = self.h.drive(itr.start(folder), "wait-window 60", "click-title-button", "press OK 10",
                             "wait-visible Rabbit 120", "click Rabbit", "wait-lines LogMemo 22 120", "no-msgbox 2",
                             "text LogMemo", "close", "wait-exit 10", timeout=600)
        about = itr.by_cmd(r, "press")[0]["text"].split("\n\r")
        self.assertEqual(about[-2:], ["Дата компиляции: 15.03.2010", "Время компиляции: 9:30:20"])
        self.assertEqual(itr.by_cmd(r, "text")[0]["lines"], pc.HAPPY_LINES)
        self.assertEqual(itr.by_cmd(r, "wait-exit")[0]["exit_code"], 0)
        pc.assert_patched(self, self.h, X64 / "payload", folder, exe_before, dll_before)

    def test_the_password_file_and_a_wrong_password(self):
        out = self.h.scratch / "by-file"
        run = self.package(out, ["--pass-file", self.keys / "password"], password_in_environment="not this one")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        for name in SIGNED_NAMES:
            passed, report = verify(out / name, self.cert)
            self.assertTrue(passed, f"{name}: {report}")

        before = rt.snapshot(out)
        wrong = "wrong-" + secrets.token_hex(8)
        run = self.package(out, [], password_in_environment=wrong)
        self.assertEqual(run.returncode, 1)
        self.assertIn("signing iTools3-Rus.exe failed", run.stderr)
        self.assertNotIn(wrong, run.stdout + run.stderr)
        self.assertEqual(rt.snapshot(out), before, "the release there stays as it was")


if __name__ == "__main__":
    unittest.main()
