#!/usr/bin/env python3
"""Packages two built programs as a release: the archive iTools3-Rus-VERSION.zip and
SHA256SUMS, with the files they sum laid out beside them.

    package.py --x86 EXE --x64 EXE --version VERSION --out DIR
               [--sign FILE.p12 [--pass-file FILE] [--timestamp URL]]

SOURCE_DATE_EPOCH (seconds since 1970, UTC) must be set: it is the build stamp written into
both programs and the time of every archive entry, so the same programs and epoch always give
the same archive. --sign signs both programs with Authenticode SHA-256 (osslsigncode) before
they are archived and summed; the certificate's password comes from --pass-file or the
environment variable ITR_SIGN_PASSWORD, never from the command line. Without either it is asked
for when a terminal is there.

DIR gets the archive, SHA256SUMS, iTools3-Rus.exe, x64/iTools3-Rus.exe and the two read-me
files; nothing in it changes unless the whole release succeeds.
"""
import argparse
import getpass
import hashlib
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent.parent / "payload" / "postlink"))
sys.path.insert(0, str(HERE))
import buildstamp  # noqa: E402
import pe  # noqa: E402
import zipwriter  # noqa: E402

PROGRAM = "iTools3-Rus.exe"
X64_FOLDER = "x64"
README_RU = "ПРОЧТИ.txt"
README_EN = "README.txt"
SUMS = "SHA256SUMS"
PASSWORD_VARIABLE = "ITR_SIGN_PASSWORD"
BOM = b"\xef\xbb\xbf"
TEMPLATES = {README_RU: HERE / "readme-ru.txt", README_EN: HERE / "readme-en.txt"}


class ReleaseError(Exception):
    pass


def archive_name(version):
    return f"iTools3-Rus-{version}.zip"


def epoch_from_environment():
    value = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not re.fullmatch(r"[0-9]+", value):
        raise ReleaseError("SOURCE_DATE_EPOCH must be set to the commit's time in seconds since 1970 "
                           f"(git log -1 --format=%ct), not {value!r}")
    return int(value)


def build_time(epoch):
    """The release's one time, as the programs' build stamp and the archive's entries carry it.
    MS-DOS times know no time zone: the epoch is taken as UTC, as the build stamp takes it, so
    the bytes are the same in every zone; Windows shows the time as written."""
    t = time.gmtime(epoch)
    try:
        stamp = buildstamp.dos_stamp(t)
    except buildstamp.StampError as e:
        raise ReleaseError(f"SOURCE_DATE_EPOCH {epoch}: {e}") from None
    return t, stamp


def render_readme(template, version, t):
    """A read-me as Notepad on Windows 7 reads it: UTF-8 with a byte-order mark, CR LF."""
    text = template.replace("\r\n", "\n")
    values = {
        "VERSION": version,
        "DATE": f"{t.tm_mday:02d}.{t.tm_mon:02d}.{t.tm_year:04d}",
        "ISO_DATE": f"{t.tm_year:04d}-{t.tm_mon:02d}-{t.tm_mday:02d}",
        # Seconds as the MS-DOS stamp holds them, in steps of two.
        "TIME": f"{t.tm_hour}:{t.tm_min:02d}:{min(t.tm_sec, 59) // 2 * 2:02d}",
    }
    for key, value in values.items():
        text = text.replace(f"@{key}@", value)
    left = re.search(r"@[A-Z_]+@", text)
    if left:
        raise ReleaseError(f"the read-me template names {left.group(0)}, which has no value")
    return BOM + text.replace("\n", "\r\n").encode("utf-8")


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def stage_program(source, target, machine, t):
    """A copy of a built program with the release's build stamp (and its header checksum kept
    valid: the stamp step sees to it)."""
    data = pathlib.Path(source).read_bytes()
    try:
        found = pe.machine(data)
        if found != machine:
            raise ReleaseError(f"{source} is built for machine {found:#x}, not {machine:#x}: "
                               "are --x86 and --x64 the right way round?")
        data = buildstamp.stamped(data, t)
    except (pe.PeError, buildstamp.StampError) as e:
        raise ReleaseError(f"{source}: {e}") from None
    target.parent.mkdir(parents=True, exist_ok=True)
    target.write_bytes(data)


def password_file(args, private):
    """The path of a file holding the certificate's password, for osslsigncode's -readpass.
    A password from the environment or the terminal goes into a file only this user may read,
    in a private folder removed afterwards; it never appears on a command line."""
    if args.pass_file:
        if not pathlib.Path(args.pass_file).is_file():
            raise ReleaseError(f"--pass-file {args.pass_file}: no such file")
        return args.pass_file
    secret = os.environ.get(PASSWORD_VARIABLE)
    if secret is None:
        if not sys.stdin.isatty():
            raise ReleaseError(f"--sign needs the certificate's password: --pass-file FILE or {PASSWORD_VARIABLE}")
        secret = getpass.getpass(f"password of {args.sign}: ")
    path = private / "password"
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(fd, "w", encoding="utf-8") as f:
        f.write(secret)
    return str(path)


def sign(paths, args, private):
    tool = shutil.which("osslsigncode")
    if not tool:
        raise ReleaseError("osslsigncode is not installed (tools/setup.sh installs it)")
    if not pathlib.Path(args.sign).is_file():
        raise ReleaseError(f"--sign {args.sign}: no such file")
    readpass = password_file(args, private)
    for path in paths:
        signed = path.with_name(path.name + ".signed")
        command = [tool, "sign", "-pkcs12", args.sign, "-readpass", readpass, "-h", "sha256", "-n", "iTools3-Rus",
                   "-in", str(path), "-out", str(signed)]
        if args.timestamp:
            command[2:2] = ["-ts", args.timestamp]
        r = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           text=True, errors="replace")
        if r.returncode != 0 or not signed.is_file():
            raise ReleaseError(f"signing {path.name} failed:\n{r.stdout.strip()}")
        os.replace(signed, path)


def package(x86, x64, version, out, epoch, args=None):
    """Writes the release into out; returns the archive's path."""
    if not re.fullmatch(r"[0-9]+\.[0-9]+\.[0-9]+", version):
        raise ReleaseError(f"version {version!r} is not MAJOR.MINOR.PATCH")
    t, stamp = build_time(epoch)
    out = pathlib.Path(out)
    out.mkdir(parents=True, exist_ok=True)
    # Everything is made in a folder beside out and moved in only when all of it is there.
    with tempfile.TemporaryDirectory(prefix=".release-", dir=out) as tmp:
        stage, private = pathlib.Path(tmp) / "stage", pathlib.Path(tmp) / "private"
        stage.mkdir()
        private.mkdir(mode=0o700)
        programs = {PROGRAM: (x86, pe.MACHINE_I386), f"{X64_FOLDER}/{PROGRAM}": (x64, pe.MACHINE_AMD64)}
        for name, (source, machine) in programs.items():
            stage_program(source, stage / name, machine, t)
        if args is not None and args.sign:
            sign([stage / name for name in programs], args, private)
        for name, template in TEMPLATES.items():
            (stage / name).write_bytes(render_readme(template.read_text(encoding="utf-8"), version, t))

        entries = [(README_RU, (stage / README_RU).read_bytes()), (README_EN, (stage / README_EN).read_bytes()),
                   (PROGRAM, (stage / PROGRAM).read_bytes()), (f"{X64_FOLDER}/", None),
                   (f"{X64_FOLDER}/{PROGRAM}", (stage / X64_FOLDER / PROGRAM).read_bytes())]
        archive = archive_name(version)
        (stage / archive).write_bytes(zipwriter.build(entries, stamp))
        # CR LF, so that Notepad shows one sum a line; sha256sum -c reads it as well.
        sums = "".join(f"{sha256(stage / name)}  {name}\r\n" for name in [archive, *programs])
        (stage / SUMS).write_bytes(sums.encode("ascii"))

        # Archives of other versions would not match the new sums.
        for old in out.glob(archive_name("*")):
            if old.name != archive:
                old.unlink()
        (out / X64_FOLDER).mkdir(exist_ok=True)
        for name in [README_RU, README_EN, *programs, SUMS, archive]:
            os.replace(stage / name, out / name)
    return out / archive


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--x86", required=True, help="the 32-bit program")
    parser.add_argument("--x64", required=True, help="the 64-bit program")
    parser.add_argument("--version", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--sign", metavar="FILE.p12", help="sign both programs with this certificate")
    parser.add_argument("--pass-file", metavar="FILE", help="the certificate's password, in a file")
    parser.add_argument("--timestamp", metavar="URL", help="an RFC 3161 time-stamp authority")
    args = parser.parse_args(argv)
    if (args.pass_file or args.timestamp) and not args.sign:
        parser.error("--pass-file and --timestamp go with --sign")
    try:
        archive = package(args.x86, args.x64, args.version, args.out, epoch_from_environment(), args)
    except (ReleaseError, zipwriter.ZipError, OSError) as e:
        print(f"release: {e}", file=sys.stderr)
        return 1
    out = archive.parent
    for name in [archive.name, PROGRAM, f"{X64_FOLDER}/{PROGRAM}", README_RU, README_EN, SUMS]:
        print(f"  {out / name}  ({(out / name).stat().st_size} bytes)")
    if args.sign:
        stamped = f", time-stamped by {args.timestamp}" if args.timestamp else ", without a time stamp"
        print(f"release {args.version}: {archive} signed with {args.sign}{stamped}")
    else:
        print(f"release {args.version}: {archive} UNSIGNED (no --sign): Windows will name no publisher")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
