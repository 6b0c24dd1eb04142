#!/usr/bin/env python3
"""Checks README.md, CONTRIBUTING.md, CHANGELOG.md and docs/*.md for links that lead
nowhere, for names in backticks of things that do not exist, and the map of the product
files in docs/design.md for files it leaves out. Needs no build.

Links: every inline link [text](target) outside code. A target with a scheme
(https:, mailto:) is not followed. Any other target must name an existing file or
folder, relative to the page; `#anchor` must be a heading of the page it points to (the
page itself when no file is named), by GitHub's rules: the heading's text lowercased,
everything but letters, digits, spaces, - and _ removed, each space turned into -, and a
repeated heading given -1, -2, ... in order.

Names: each code span, and each line of a fenced code block, is checked as a whole and
word by word (quotes and brackets around a word left out); it fails when it names
- a repository path: a word that starts with a top-level file or folder of the checkout
  (`tools/run.sh`, `bash tools/test.sh`); `*` and `<placeholder>` match any name part;
- a ctest test: a span like `wine_update_en_older_or_same` whose first part before `_`
  begins a registered test's name and that is no CMake command (`wine_lane`); `*` and
  `{en,de}` stand for what they match, and each alternative must match a test. Tests are
  read from the CMake files (add_test, and the functions that call it with their first
  argument, through foreach loops and string(REPLACE)); GoogleTest's from TEST, TEST_F
  and TEST_P with INSTANTIATE_TEST_SUITE_P (`Suite.Name`, `Prefix/Suite`);
- a CMake preset: `--preset name` in a span, a span next to the word "preset", or the
  first cell of a table headed "Preset"; names from CMakePresets.json;
- an identifier of the code: a constant `kName` or a lowerCamel name (a function, a
  variable) must occur as a word in a C or C++ file, and `ORVANTA_NAME` in some file
  other than a page; each part of a qualified name (`Dialog::announceHint`) too;
- an option: `--name` after a file of the checkout in the same command (`tools/release.sh
  --firmware FILE`; commands are split at &&, ; and |) must occur in that file; an
  option alone in a span (`--allow-stand-in`) in some file other than a page;
- a command of `tools/virtual-unit`: the word after it must be one of its case labels;
- a scenario key: a span or line `name = value` (`set name = value` too) must name a key
  that `emulator/scenario.cpp` reads, as must the fault kind after `fault =` and each
  `name=` of a fault's selector.

Map: the table under the heading "The product files" in docs/design.md. Its first cell
names a folder (an empty cell keeps the one above). A file <folder>/<name> is in the map
when a row of its folder holds `name` in backticks, or `stem.*` where stem is the name
without its last extension (`dialog_win32.*` names dialog_win32.h and .cpp). Product
files are those under app/, link/, update/ and resources/: `git ls-files` in a git
checkout, else every file in those folders."""

import fnmatch
import json
import os
import re
import subprocess
import sys

PRODUCT_FOLDERS = ("app", "link", "update", "resources")
MAP_PAGE = "docs/design.md"
MAP_HEADING = "the-product-files"

PAGES = ("README.md", "CONTRIBUTING.md", "CHANGELOG.md")
VIRTUAL_UNIT = "tools/virtual-unit"
SCENARIO_READER = "emulator/scenario.cpp"
TEXT_OF_CODE = (".c", ".cpp", ".h")

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


def repository_files(root):
    """The checkout's files, untracked ones not ignored included; outside git, every file
    but those of builds and releases."""
    try:
        listed = subprocess.run(
            ["git", "-C", root, "ls-files", "--cached", "--others", "--exclude-standard"],
            capture_output=True, text=True, check=True).stdout.splitlines()
        if listed:
            return [f for f in listed if os.path.exists(os.path.join(root, f))]
    except (OSError, subprocess.CalledProcessError):
        pass
    files = []
    for here, folders, names in os.walk(root):
        folders[:] = [f for f in folders if f not in (".git", "build") and
                      not f.startswith("dist")]
        files += [os.path.relpath(os.path.join(here, n), root).replace(os.sep, "/")
                  for n in names]
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


def check_map(root, files, failures):
    page = os.path.join(root, MAP_PAGE)
    entries = map_entries(page)
    if not entries:
        failures.append(f"{MAP_PAGE}: no table under the heading #{MAP_HEADING}")
        return
    for file in sorted(f for f in files if f.split("/")[0] in PRODUCT_FOLDERS):
        folder, _, name = file.partition("/")
        stem = name.rsplit(".", 1)[0]
        if (folder, name) not in entries and (folder, stem + ".*") not in entries:
            failures.append(f"{MAP_PAGE}: the map of the product files does not name {file}")


def cmake_commands(text):
    """(command, [arguments]) of each command of a CMake file, comments left out."""
    text = re.sub(r'"(?:\\.|[^"\\])*"|#[^\n]*',
                  lambda m: m.group(0) if m.group(0)[0] == '"' else "", text)
    commands, pos = [], 0
    while m := re.compile(r"\b([A-Za-z_]\w*)\s*\(").search(text, pos):
        depth, quoted, end = 0, False, m.end() - 1
        while end < len(text):
            end += text[end] == "\\"  # an escaped character counts for nothing
            quoted ^= text[end] == '"'
            depth += 0 if quoted else (text[end] == "(") - (text[end] == ")")
            if depth == 0:
                break
            end += 1
        arguments = re.findall(r'"[^"]*"|[^\s"]+', text[m.end():end])
        commands.append((m.group(1).lower(), [a.strip('"') for a in arguments]))
        pos = end + 1
    return commands


def registered_tests(files, read):
    """The names of the ctest tests the CMake files register, and their commands."""
    scripts = [cmake_commands(read(f)) for f in files
               if f.endswith((".cmake", "CMakeLists.txt"))]
    registrars, bodies = {"add_test"}, {}
    for commands in scripts:
        for i, (name, arguments) in enumerate(commands):
            if name == "function":
                end = next(j for j in range(i, len(commands)) if commands[j][0] == "endfunction")
                bodies[arguments[0].lower()] = (arguments[1:2], commands[i + 1:end])
    while True:  # a function whose first argument is the name of a test it registers
        more = {f for f, (first, body) in bodies.items() if first and any(
            c in registrars and "${%s}" % first[0] in a[:2] for c, a in body)} - registrars
        if not more:
            break
        registrars |= more
    names, called = set(), set()
    for commands in scripts:
        stack, envs, skip = [], [{}], 0
        def expand(text, env):
            return re.sub(r"\$\{(\w+)\}", lambda m: env.get(m.group(1), m.group(0)), text)
        for name, arguments in commands:
            called.add(name)
            skip += (name == "function") - (name == "endfunction")
            if skip or not arguments and name != "endforeach":
                continue
            if name == "foreach":
                stack.append(envs)
                values = [v for v in arguments[1:] if v not in ("IN", "ITEMS", "LISTS")]
                envs = [dict(e, **{arguments[0]: w}) for e in envs for v in values
                        for w in expand(v, e).split(";")]
            elif name == "endforeach":
                envs = stack.pop()
            elif name == "string" and arguments[0] == "REPLACE" and len(arguments) == 5:
                for e in envs:
                    e[arguments[3]] = expand(arguments[4], e).replace(*arguments[1:3])
            elif name in registrars:
                test = arguments[1] if arguments[0] == "NAME" else arguments[0]
                names.update(expand(test, e) for e in envs)
    return names, called | set(bodies)


def gtest_names(files, read):
    """Suite.Name of every GoogleTest test, Prefix/Suite.Name for parameterised ones."""
    names, prefixes = set(), {}
    text = "\n".join(read(f) for f in files if f.startswith("tests/") and f.endswith(".cpp"))
    for prefix, suite in re.findall(r"INSTANTIATE_TEST_SUITE_P\(\s*(\w+),\s*(\w+)", text):
        prefixes.setdefault(suite, []).append(prefix + "/")
    for kind, suite, name in re.findall(r"\bTEST(|_F|_P)\(\s*(\w+),\s*(\w+)\)", text):
        names.update(p + f"{suite}.{name}" for p in (prefixes.get(suite, []) if kind == "_P"
                                                     else [""]))
    return names


def braces(text):
    """`a_{en,de}` as `a_en`, `a_de`."""
    m = re.search(r"\{([^{}]*)\}", text)
    if not m:
        return [text]
    return [w for alternative in m.group(1).split(",")
            for w in braces(text[:m.start()] + alternative + text[m.end():])]


class Names:
    """What the checkout holds, read once: files, folders, tests, presets, identifiers."""

    def __init__(self, root, files):
        def read(f):
            try:
                with open(os.path.join(root, f), encoding="utf-8") as h:
                    return h.read()
            except (UnicodeDecodeError, OSError):
                return ""
        self.files = set(files)
        self.folders = {f.rsplit("/", i)[0] for f in files for i in range(1, f.count("/") + 1)}
        self.top = {f.split("/")[0] for f in files}
        self.tests, self.cmake_commands = registered_tests(files, read)
        self.gtests = gtest_names(files, read)
        self.test_starts = {t.split("_")[0] + "_" for t in self.tests if "_" in t}
        presets = json.loads(read("CMakePresets.json") or "{}")
        self.presets = {kind: {p["name"] for p in presets.get(kind + "Presets", [])}
                        for kind in ("configure", "build", "test")}
        self.code_words = set(re.findall(r"\w+", "\n".join(
            read(f) for f in files if f.endswith(TEXT_OF_CODE))))
        self.read = read
        self.other_text = "\n".join(read(f) for f in files if not f.endswith(".md"))
        self.other_words = set(re.findall(r"ORVANTA_\w+", self.other_text))
        self.unit_commands = {word for label in re.findall(
            r"^([a-z][a-z |-]*)\)", read(VIRTUAL_UNIT), re.M) for word in label.split(" | ")}
        self.scenario_text = read(SCENARIO_READER)

    def path_missing(self, word):
        word = re.sub(r"<[^>]*>", "*", word.rstrip(".,;:)")).rstrip("/")
        if "/" not in word and word not in self.files or word.split("/")[0] not in self.top:
            return False
        if "*" in word:
            return not any(fnmatch.fnmatchcase(f, word) for f in self.files | self.folders)
        return word not in self.files and word not in self.folders

    def test_missing(self, span):
        if re.fullmatch(r"[A-Z]\w*(/[A-Z]\w*)?(\.[A-Z]\w*)?", span) and re.search(r"[./]", span):
            return not any(g == span or g.startswith(span + ".") for g in self.gtests)
        if (not re.fullmatch(r"[a-z][a-z0-9_*{},]*_[a-z0-9_*{},]*", span)
                or span in self.cmake_commands
                or not any(span.startswith(s) for s in self.test_starts)):
            return False
        return any(not fnmatch.filter(self.tests, alternative) for alternative in braces(span))

    def preset_missing(self, span, before, after, in_preset_table):
        missing = []
        kind = ("build" if span.startswith("cmake --build") else
                "test" if span.startswith("ctest") else "configure")
        missing += [p for p in re.findall(r"--preset[ =](\S+)", span)
                    if p not in self.presets[kind]]
        if (re.fullmatch(r"[\w-]+", span) and (in_preset_table or re.search(
                r"\bpresets?\s*$", before, re.I) or re.match(r"\s*presets?\b", after, re.I))
                and not any(span in names for names in self.presets.values())):
            missing.append(span)
        return missing

    def text_of(self, file):
        return self.read(file)

    def identifier_missing(self, span):
        name = span.removesuffix("()")
        if re.fullmatch(r"[A-Za-z_]\w*(::~?[A-Za-z_]\w*)+", name):
            parts = name.split("::")
            return parts[0] != "std" and any(p.lstrip("~") not in self.code_words for p in parts)
        if re.fullmatch(r"k[A-Z]\w*|[a-z][a-z0-9]*[A-Z]\w*", name):
            return name not in self.code_words
        if re.fullmatch(r"ORVANTA_[A-Z0-9_]+", name):
            return name not in self.other_words
        return False


def code_lines(path):
    """(line number, text) of each line inside fenced code blocks."""
    inside = False
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if FENCE.match(line):
                inside = not inside
            elif inside:
                yield number, line.rstrip("\n")


WORD_EDGES = "'\"()[],;:"


def check_words(span, names):
    """What a span or a line of code names that does not exist, found word by word."""
    missing = []
    words = [w.strip(WORD_EDGES) for w in span.split()]
    for word in words:
        if word != span:
            missing += [f"no test {word}"] * names.test_missing(word)
            missing += [f"no name {word} in the code"] * names.identifier_missing(word)
    if re.fullmatch(r"--[a-z][\w-]*", span) and span not in names.other_text:
        missing.append(f"no option {span} in any script")
    for command in re.split(r"&&|;|\|", span):
        words = [w.strip(WORD_EDGES) for w in command.split()]
        owner = None
        for i, word in enumerate(words):
            if word in names.files:
                owner = word
                if word == VIRTUAL_UNIT and i + 1 < len(words) and re.fullmatch(
                        r"[a-z]+", words[i + 1]) and words[i + 1] not in names.unit_commands:
                    missing.append(f"no command {words[i + 1]} of {VIRTUAL_UNIT}")
            elif owner and re.fullmatch(r"--[a-z][\w-]*", word.split("=")[0]):
                option = word.split("=")[0]
                if option not in names.text_of(owner):
                    missing.append(f"no option {option} in {owner}")
    key = re.match(r"\s*(?:set\s+)?([a-z][a-z0-9_]*) = (\S*)(.*)", span)
    if key and key.group(1) != "key":  # `key = value` stands for any
        used = [key.group(1)]
        if key.group(1) == "fault":
            used += [key.group(2)] + re.findall(r"\b([a-z_]+)=", key.group(3))
        missing += [f"no scenario key {k}" for k in used if f'"{k}"' not in names.scenario_text]
    return missing


def check_names(root, page, names, failures):
    lines = [line for _, line in prose_lines(page, blank_code=True)]
    text = "\n".join(lines)
    preset_table = set()  # the lines of a table whose first column is headed "Preset"
    for number, line in enumerate(lines):
        if re.match(r"\|\s*Presets?\s*\|", line):
            end = number + 2
            while end < len(lines) and lines[end].startswith("|"):
                preset_table.add(end)
                end += 1
    for m in CODE_SPAN.finditer(text):
        span = " ".join(m.group(0).strip("`").split())
        number = text.count("\n", 0, m.start())
        column = m.start() - text.rfind("\n", 0, m.start()) - 1
        first_cell = lines[number].startswith("|") and "|" not in lines[number][1:column]
        missing = [f"no repository path {w}" for w in span.split() if names.path_missing(w)]
        missing += ["no test of that name"] * names.test_missing(span)
        missing += [f"no CMake preset {p}" for p in names.preset_missing(
            span, text[max(0, m.start() - 20):m.start()], text[m.end():m.end() + 20],
            number in preset_table and first_cell)]
        missing += ["no such name in the code"] * names.identifier_missing(span)
        missing += check_words(span, names)
        failures += [f"{os.path.relpath(page, root)}:{number + 1}: `{span}`: {what}"
                     for what in missing]
    for number, line in code_lines(page):
        code = line.split(" # ")[0]
        missing = [f"no repository path {w}" for w in code.split() if names.path_missing(w)]
        missing += check_words(code, names)
        failures += [f"{os.path.relpath(page, root)}:{number}: {what}" for what in missing]


def check(root):
    """Every problem of the pages under root, one line each."""
    pages = [os.path.join(root, p) for p in PAGES if os.path.exists(os.path.join(root, p))]
    docs = os.path.join(root, "docs")
    pages += sorted(os.path.join(docs, n) for n in os.listdir(docs) if n.endswith(".md"))
    files = repository_files(root)
    names = Names(root, files)
    failures, cache = [], {}
    for page in pages:
        check_links(root, page, failures, cache)
        check_names(root, page, names, failures)
    check_map(root, files, failures)
    return pages, failures


def main():
    pages, failures = check(os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "."))
    for failure in failures:
        print(failure)
    print(f"{len(pages)} pages checked, {len(failures)} problems")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
