#!/usr/bin/env python3
"""Prints the apt source (deb822) of a Debian release's backports suite, taken from the source
this machine already uses for the release's own suite: the same URIs, so a company mirror or a
caching proxy stays in use, and the same keyring (Signed-By) and trust.

    backports_source.py CODENAME [--sources-list FILE] [--sources-parts DIR] [--skip FILE]

Reads the one-line entries of sources.list and of the *.list files of sources.list.d and the
deb822 stanzas of its *.sources files, in apt's order. The first enabled "deb" entry whose
suites include CODENAME exactly and whose components include main is taken. Without one the
script says so on stderr and exits with 1.
"""
import argparse
import pathlib
import sys


class Entry:
    def __init__(self, origin, types, uris, suites, components, signed_by=None, trusted=None):
        self.origin = origin  # "file:line", for the message of what was taken
        self.types = types
        self.uris = uris
        self.suites = suites
        self.components = components
        # The field's value lines as written: one line, or an embedded key over several.
        self.signed_by = signed_by
        self.trusted = trusted


def one_line_entries(path):
    """The entries of a one-line style file: type [options] uri suite [component...]."""
    entries = []
    for number, raw in enumerate(path.read_text(errors="replace").splitlines(), 1):
        line = raw.split("#", 1)[0].strip()
        if not line:
            continue
        kind, _, rest = line.partition(" ")
        rest = rest.strip()
        options = {}
        if rest.startswith("["):
            inside, bracket, rest = rest[1:].partition("]")
            if not bracket:
                continue  # apt rejects such a line too
            for option in inside.split():
                key, equals, value = option.partition("=")
                if equals:
                    options[key.rstrip("+-").lower()] = value
        words = rest.split()
        if len(words) < 2:
            continue
        signed_by = [options["signed-by"]] if "signed-by" in options else None
        entries.append(Entry(f"{path}:{number}", [kind], [words[0]], [words[1]], words[2:],
                             signed_by, options.get("trusted")))
    return entries


def deb822_stanzas(path):
    """The stanzas of a deb822 file as {lower-case field name: [value lines]}, each with the
    line number it starts on."""
    stanzas, fields, start, name = [], {}, 0, None
    for number, raw in enumerate(path.read_text(errors="replace").splitlines(), 1):
        line = raw.rstrip()
        if line.startswith("#"):
            continue
        if not line:
            if fields:
                stanzas.append((start, fields))
            fields, name = {}, None
            continue
        if line[0] in " \t":
            if name is not None:
                fields[name].append(line)  # a continuation: kept as written
            continue
        key, colon, value = line.partition(":")
        if not colon:
            continue
        if not fields:
            start = number
        name = key.strip().lower()
        fields[name] = [value.strip()]  # the value on the field's own line, maybe empty
    if fields:
        stanzas.append((start, fields))
    return stanzas


def deb822_entries(path):
    entries = []
    for start, fields in deb822_stanzas(path):
        def words(name):
            return " ".join(fields.get(name, [])).split()

        if words("enabled")[:1] == ["no"]:
            continue
        trusted = words("trusted")
        entries.append(Entry(f"{path}:{start}", words("types"), words("uris"), words("suites"),
                             words("components"), fields.get("signed-by"),
                             trusted[0] if trusted else None))
    return entries


def configured_entries(sources_list, sources_parts, skip):
    """Every entry of apt's sources in apt's order: sources.list, then the parts by name."""
    entries = []
    if sources_list.is_file():
        entries += one_line_entries(sources_list)
    parts = sorted(sources_parts.iterdir()) if sources_parts.is_dir() else []
    for path in parts:
        if skip and path.resolve() == skip.resolve() or not path.is_file():
            continue
        if path.suffix == ".list":
            entries += one_line_entries(path)
        elif path.suffix == ".sources":
            entries += deb822_entries(path)
    return entries


def release_entry(entries, codename):
    for e in entries:
        if "deb" in e.types and codename in e.suites and "main" in e.components and e.uris:
            return e
    return None


def backports_source(entry, codename):
    """The deb822 text of the backports suite on the entry's URIs and keyring."""
    lines = [f"# {codename}-backports from the source of {entry.origin}, written by tools/setup.sh",
             "Types: deb",
             "URIs: " + " ".join(entry.uris),
             f"Suites: {codename}-backports",
             "Components: main"]
    if entry.signed_by and any(line.strip() for line in entry.signed_by):
        first, *more = entry.signed_by
        lines.append(f"Signed-By: {first}".rstrip())
        lines += more
    if entry.trusted:
        lines.append(f"Trusted: {entry.trusted}")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("codename")
    parser.add_argument("--sources-list", type=pathlib.Path, default=pathlib.Path("/etc/apt/sources.list"))
    parser.add_argument("--sources-parts", type=pathlib.Path, default=pathlib.Path("/etc/apt/sources.list.d"))
    parser.add_argument("--skip", type=pathlib.Path, help="a file of the parts not to read (our own)")
    args = parser.parse_args()
    entry = release_entry(configured_entries(args.sources_list, args.sources_parts, args.skip), args.codename)
    if entry is None:
        print(f"no enabled apt source of Debian's {args.codename} (type deb, suite {args.codename}, component "
              f"main) in {args.sources_list} or {args.sources_parts}: {args.codename}-backports cannot be "
              f"added from it", file=sys.stderr)
        return 1
    sys.stdout.write(backports_source(entry, args.codename))
    return 0


if __name__ == "__main__":
    sys.exit(main())
