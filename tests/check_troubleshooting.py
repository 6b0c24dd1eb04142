#!/usr/bin/env python3
"""Checks the troubleshooting pages against the message catalogue, so that the two never
drift apart. Every quote on a page is a text of the program as it shows it:

  > **Caption**            a message box: its caption, then its text; a line that ends
  >                        in a backslash is followed by the box's next line, and an
  > Text of the box.\\      empty quote line is an empty line of the text
  > Second line

  > Text of the hint.      a hint panel text (a quote without a caption)

Each caption and each text must be a catalogue text of the page's language, the box's
second line an instance of the error-code line. Every catalogue text the program shows
in a box or as a hint must be quoted on every page, and all pages quote the same
messages in the same order."""

import argparse
import re
import sys

# Not quoted: the wiring instructions (the pages describe them), the panel's labels and
# the progress window's title; the error-code line is checked as a box's second line.
NOT_QUOTED = {"IDS_INSTRUCTIONS", "IDS_LABEL_UNIT", "IDS_LABEL_ESC_BOOTLOADER",
              "IDS_LABEL_ESC", "IDS_PROGRESS_TITLE", "IDS_ERROR_CODE_LINE"}
# The model named by the one text with a placeholder.
MODEL = "ORVANTA 210 HV"


def quotes(path):
    """(line number, [paragraphs]) of each block quote, paragraphs as the program's text."""
    found, block, start = [], [], 0
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n") + [""]
    for number, line in enumerate(lines, 1):
        if line.startswith(">"):
            if not block:
                start = number
            block.append(line[1:].removeprefix(" "))
            continue
        if block:
            paragraphs = "\n".join(block).split("\n\n")
            found.append((start, [p.replace("\\\n", "\r\n") for p in paragraphs]))
            block = []
    return found


def check_page(path, language, catalogue, failures):
    """The sequence of (caption id, text id, with code line) the page quotes."""
    by_text = {}
    for ident, name, texts in catalogue:
        by_text.setdefault(texts[language].replace("%s", MODEL), (ident, name))
    code_format = next(t[language] for _, n, t in catalogue if n == "IDS_ERROR_CODE_LINE")
    code_line = re.compile(re.escape(code_format).replace("%08x", "[0-9a-f]{8}"))
    sequence = []
    for number, paragraphs in quotes(path):
        where = f"{path}:{number}"
        caption = None
        if re.fullmatch(r"\*\*.+\*\*", paragraphs[0]):
            caption = paragraphs.pop(0)[2:-2]
            if caption not in by_text:
                failures.append(f"{where}: caption {caption!r} is not in the catalogue")
        text = "\r\n\r\n".join(paragraphs)
        with_code = False
        if text not in by_text and "\r\n" in text:
            body, last = text.rsplit("\r\n", 1)
            if caption is not None and code_line.fullmatch(last):
                text, with_code = body, True
        if text not in by_text:
            failures.append(f"{where}: {text[:70]!r}... is not a catalogue text as shown")
            continue
        sequence.append((by_text.get(caption, (None,))[0], by_text[text][0], with_code))

    quoted = {ident for entry in sequence for ident in entry[:2]}
    for ident, name, _ in catalogue:
        if name not in NOT_QUOTED and ident not in quoted:
            failures.append(f"{path}: {ident} {name} is not quoted")
    if not any(with_code for _, _, with_code in sequence):
        failures.append(f"{path}: no box shows the error-code line")
    return sequence


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--tools", required=True, help="folder of gen_catalogue.py")
    parser.add_argument("pages", nargs="+", help="LANGUAGE=PAGE, e.g. en=docs/x.md")
    args = parser.parse_args()
    sys.dont_write_bytecode = True
    sys.path.insert(0, args.tools)
    import gen_catalogue

    catalogue = gen_catalogue.parse_catalogue(args.catalogue)
    failures, sequences = [], {}
    for page in args.pages:
        language, path = page.split("=", 1)
        sequences[path] = check_page(path, language, catalogue, failures)
    first = args.pages[0].split("=", 1)[1]
    for path, sequence in sequences.items():
        if sequence != sequences[first]:
            failures.append(f"{path} does not quote the same messages in the same order "
                            f"as {first}")
    for failure in failures:
        print(failure)
    print(f"{len(sequences)} pages, {sum(map(len, sequences.values()))} quotes checked, "
          f"{len(failures)} problems")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
