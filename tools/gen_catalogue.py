#!/usr/bin/env python3
"""Turns resources/catalogue.txt into the two forms the build uses: a C++ table for the
portable code (catalogue_data.inc) and the string tables of the Windows resource script
(catalogue.rc)."""

import argparse
import os
import re
import sys

LANGUAGES = ("en", "de")

# Resource language statements: English with the neutral sublanguage, German (Germany).
RC_LANGUAGE = {"en": "LANGUAGE 0x09, 0x00", "de": "LANGUAGE 0x07, 0x01"}

# The program loads every text into a buffer of this many UTF-16 units, terminator included.
TEXT_BUFFER_UNITS = 2048


class CatalogueError(Exception):
    pass


def unescape(text, where):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        if i + 1 >= len(text):
            raise CatalogueError(f"{where}: backslash at the end of the line")
        e = text[i + 1]
        if e == "r":
            out.append("\r")
        elif e == "n":
            out.append("\n")
        elif e == "\\":
            out.append("\\")
        else:
            raise CatalogueError(f"{where}: unknown escape \\{e}")
        i += 2
    return "".join(out)


def utf16_units(text):
    return len(text.encode("utf-16-le")) // 2


def parse_catalogue(path):
    """Returns a list of (id, name, {language: text}), ascending by id."""
    entries = []
    current = None
    with open(path, encoding="utf-8", newline="") as f:
        lines = f.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    for number, raw in enumerate(lines, 1):
        where = f"{path}:{number}"
        line = raw[:-1] if raw.endswith("\r") else raw
        if line == "" or line.startswith("#"):
            continue
        m = re.fullmatch(r"(\d+) ([A-Z][A-Z0-9_]*)", line)
        if m:
            current = (int(m.group(1)), m.group(2), {})
            entries.append(current)
            continue
        m = re.fullmatch(r"(en|de): (.*)", line, flags=re.DOTALL)
        if not m:
            raise CatalogueError(f"{where}: expected '<id> <name>', 'en: ' or 'de: '")
        if current is None:
            raise CatalogueError(f"{where}: text before the first id line")
        language, text = m.group(1), unescape(m.group(2), where)
        if language in current[2]:
            raise CatalogueError(f"{where}: second '{language}' text for {current[0]}")
        for c in text:
            if (ord(c) < 0x20 and c not in "\r\n") or 0x7F <= ord(c) < 0xA0:
                raise CatalogueError(f"{where}: control character U+{ord(c):04X}")
        if text == "":
            raise CatalogueError(f"{where}: empty text")
        if utf16_units(text) >= TEXT_BUFFER_UNITS:
            raise CatalogueError(f"{where}: text does not fit a {TEXT_BUFFER_UNITS}-unit buffer")
        current[2][language] = text

    seen = set()
    for ident, name, texts in entries:
        if not 0 < ident <= 0xFFFF:
            raise CatalogueError(f"{path}: id {ident} is not a 16-bit string id")
        if ident in seen:
            raise CatalogueError(f"{path}: id {ident} appears twice")
        seen.add(ident)
        missing = [lang for lang in LANGUAGES if lang not in texts]
        if missing:
            raise CatalogueError(f"{path}: {ident} lacks {', '.join(missing)}")
    return sorted(entries, key=lambda e: e[0])


def check_against_ids(entries, ids_header):
    """Every IDS_ name of the shared id header must be in the catalogue with its number."""
    defined = {}
    with open(ids_header, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"\s*#define\s+(IDS_\w+)\s+\(?(-?\d+)\)?", line)
            if m:
                defined[m.group(1)] = int(m.group(2))
    by_name = {name: ident for ident, name, _ in entries}
    for name, ident in defined.items():
        if name not in by_name:
            raise CatalogueError(f"{ids_header}: {name} ({ident}) has no catalogue entry")
        if by_name[name] != ident:
            raise CatalogueError(f"{name} is {ident} in {ids_header} but {by_name[name]} "
                                 f"in the catalogue")
    for name, ident in by_name.items():
        if name not in defined:
            raise CatalogueError(f"catalogue entry {ident} {name} is not in {ids_header}")


def cpp_literal(text):
    """A wide literal with ASCII only: non-ASCII as universal character names, which take a
    fixed number of digits and so cannot swallow a following letter. Long texts are split
    after each line break into adjacent literals."""
    pieces = []
    current = []
    for c in text:
        o = ord(c)
        if c == "\\":
            current.append("\\\\")
        elif c == '"':
            current.append('\\"')
        elif c == "\r":
            current.append("\\r")
        elif c == "\n":
            current.append("\\n")
            pieces.append("".join(current))
            current = []
        elif 0x20 <= o < 0x7F:
            current.append(c)
        elif o <= 0xFFFF:
            current.append(f"\\u{o:04X}")
        else:
            current.append(f"\\U{o:08X}")
    if current or not pieces:
        pieces.append("".join(current))
    return "\n        ".join(f'L"{p}"' for p in pieces)


def rc_literal(text):
    """A wide rc string. GNU windres mangles non-ASCII bytes in string tables whatever code
    page it is told, but reads \\x followed by exactly four hex digits in L"" strings as one
    UTF-16 unit, so everything outside printable ASCII goes that way, line breaks too."""
    out = []
    for c in text:
        o = ord(c)
        if c == '"':
            out.append('""')
        elif c == "\\":
            out.append("\\\\")
        elif 0x20 <= o < 0x7F:
            out.append(c)
        else:
            units = c.encode("utf-16-le")
            for k in range(0, len(units), 2):
                out.append(f"\\x{int.from_bytes(units[k:k + 2], 'little'):04x}")
    return 'L"' + "".join(out) + '"'


def render_inc(entries):
    lines = ["// Generated from resources/catalogue.txt by tools/gen_catalogue.py; do not edit.",
             "// One initialiser per message, ascending by id: id, English, German."]
    for ident, name, texts in entries:
        lines.append(f"{{{ident}u,  // {name}")
        lines.append(f"    {cpp_literal(texts['en'])},")
        lines.append(f"    {cpp_literal(texts['de'])}}},")
    return "\n".join(lines) + "\n"


def render_rc(entries):
    lines = ["// Generated from resources/catalogue.txt by tools/gen_catalogue.py; do not edit."]
    for language in LANGUAGES:
        lines += ["", RC_LANGUAGE[language], "STRINGTABLE", "BEGIN"]
        for ident, name, texts in entries:
            lines.append(f"    {ident}, {rc_literal(texts[language])}  // {name}")
        lines.append("END")
    return "\n".join(lines) + "\n"


def write_if_changed(path, content):
    """Leaves an unchanged file alone so that its dependents are not rebuilt."""
    try:
        with open(path, encoding="utf-8", newline="") as f:
            if f.read() == content:
                return
    except FileNotFoundError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8", newline="\n") as f:
        f.write(content)
    os.replace(tmp, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--ids", required=True, help="the shared resource id header")
    parser.add_argument("--out-dir", required=True)
    args = parser.parse_args()
    try:
        entries = parse_catalogue(args.catalogue)
        check_against_ids(entries, args.ids)
    except CatalogueError as e:
        print(f"gen_catalogue: {e}", file=sys.stderr)
        return 1
    os.makedirs(args.out_dir, exist_ok=True)
    write_if_changed(os.path.join(args.out_dir, "catalogue_data.inc"), render_inc(entries))
    write_if_changed(os.path.join(args.out_dir, "catalogue.rc"), render_rc(entries))
    return 0


if __name__ == "__main__":
    sys.exit(main())
