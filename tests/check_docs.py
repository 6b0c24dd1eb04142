#!/usr/bin/env python3
"""Checks README.md and docs/*.md for links that lead nowhere, and the map of the
product files in docs/design.md for files it leaves out.

Links: every inline link [text](target) outside code. A target with a scheme
(https:, mailto:) is not followed. Any other target must name an existing file or
folder, relative to the page; `#anchor` must be a heading of the page it points to (the
page itself when no file is named), by GitHub's rules: the heading's text lowercased,
everything but letters, digits, spaces, - and _ removed, each space turned into -, and a
repeated heading given -1, -2, ... in order.

Map: the table under the heading "The product files" in docs/design.md. Its first cell
names a folder (an empty cell keeps the one above). A file <folder>/<name> is in the map
when a row of its folder holds `name` in backticks, or `stem.*` where stem is the name
without its last extension (`dialog_win32.*` names dialog_win32.h and .cpp). Product
files are those under app/, link/, update/ and resources/: `git ls-files` in a git
checkout, else every file in those folders."""

import os
import re
import subprocess
import sys

PRODUCT_FOLDERS = ("app", "link", "update", "resources")
MAP_PAGE = "docs/design.md"
MAP_HEADING = "the-product-files"

FENCE = re.compile(r"^\s*(```|~~~)")
HEADING = re.compile(r"^#{1,6}\s+(.*?)\s*#*\s*$")
LINK = re.compile(r"!?\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
CODE_SPAN = re.compile(r"`[^`]*`")


def prose_lines(path, blank_code=False):
    """(line number, text) of each line outside fenced code blocks; with blank_code,
    the lines of code blocks too, as empty lines."""
    inside = False
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            fence = FENCE.match(line)
            if fence:
                inside = not inside
            if inside or fence:
                if blank_code:
                    yield number, ""
                continue
            yield number, line.rstrip("\n")


def slug(text):
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)  # a link counts by its text
    text = text.replace("`", "").replace("*", "").lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path):
    found, seen = set(), {}
    for _, line in prose_lines(path):
        m = HEADING.match(line)
        if not m:
            continue
        base = slug(m.group(1))
        count = seen.get(base, 0)
        seen[base] = count + 1
        found.add(base if count == 0 else f"{base}-{count}")
    return found


def check_links(root, page, failures, cache):
    # Whole paragraphs, since a link's text may run over a line break; code spans are
    # blanked out with their line breaks kept.
    text = "\n".join(line for _, line in prose_lines(page, blank_code=True))
    text = CODE_SPAN.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)
    for m in LINK.finditer(text):
        target = m.group(1)
        if re.match(r"[a-zA-Z][a-zA-Z0-9+.-]*:", target):
            continue
        number = text.count("\n", 0, m.start(1)) + 1
        where = f"{os.path.relpath(page, root)}:{number}: link {target}"
        path, _, anchor = target.partition("#")
        resolved = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
        if not os.path.exists(resolved):
            failures.append(f"{where}: {os.path.relpath(resolved, root)} does not exist")
            continue
        if anchor and resolved.endswith(".md"):
            if resolved not in cache:
                cache[resolved] = anchors(resolved)
            if anchor not in cache[resolved]:
                failures.append(f"{where}: no heading #{anchor} in "
                                f"{os.path.relpath(resolved, root)}")


def product_files(root):
    try:
        listed = subprocess.run(["git", "-C", root, "ls-files", "--", *PRODUCT_FOLDERS],
                                capture_output=True, text=True, check=True).stdout.split()
        if listed:
            return listed
    except (OSError, subprocess.CalledProcessError):
        pass
    files = []
    for folder in PRODUCT_FOLDERS:
        for here, _, names in os.walk(os.path.join(root, folder)):
            files += [os.path.relpath(os.path.join(here, n), root) for n in names]
    return files


def map_entries(path):
    """{(folder, named)} from the map table's rows."""
    entries, folder, in_section = set(), None, False
    for _, line in prose_lines(path):
        m = HEADING.match(line)
        if m:
            in_section = slug(m.group(1)) == MAP_HEADING
            continue
        if not in_section or not line.startswith("|"):
            continue
        cells = line.strip().strip("|").split("|")
        first = cells[0].strip().strip("`")
        if first and not set(first) <= set("-: "):
            folder = first.rstrip("/")
        for cell in cells[1:]:
            entries.update((folder, name) for name in re.findall(r"`([^`]+)`", cell))
    return entries


def check_map(root, failures):
    page = os.path.join(root, MAP_PAGE)
    entries = map_entries(page)
    if not entries:
        failures.append(f"{MAP_PAGE}: no table under the heading #{MAP_HEADING}")
        return
    for file in sorted(product_files(root)):
        folder, _, name = file.replace(os.sep, "/").partition("/")
        stem = name.rsplit(".", 1)[0]
        if (folder, name) not in entries and (folder, stem + ".*") not in entries:
            failures.append(f"{MAP_PAGE}: the map of the product files does not name {file}")


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
    pages = [os.path.join(root, "README.md")]
    docs = os.path.join(root, "docs")
    pages += sorted(os.path.join(docs, n) for n in os.listdir(docs) if n.endswith(".md"))
    failures, cache = [], {}
    for page in pages:
        check_links(root, page, failures, cache)
    check_map(root, failures)
    for failure in failures:
        print(failure)
    print(f"{len(pages)} pages checked, {len(failures)} problems")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
