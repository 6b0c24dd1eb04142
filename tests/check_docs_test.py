#!/usr/bin/env python3
"""tools/check_docs.py against renames: a scratch copy of the checkout passes it, and
a copy in which one thing that the pages name has been renamed fails it, naming the
thing.
  check_docs_test.py <checkout>"""

import fnmatch
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import check_docs  # noqa: E402

# The files changed (a pattern; none to move the file `old`), old text, new text, and
# the name the check must give when it is not the old text's last word.
RENAMES = [
    (None, "tools/bench.sh", "tools/benchmark.sh"),
    ("tests/release/CMakeLists.txt", "NAME release_signature", "NAME release_signed"),
    ("tests/wine/tests.cmake", "keyboard_session_${lang}", "keys_session_${lang}"),
    ("tests/shell_dialog_test.cpp", "HeldAndFreshKeysAreSwallowed", "FreshKeysAreSwallowed"),
    ("CMakePresets.json", '"native-sanitize"', '"native-asan"'),
    ("*.[ch]*", "kBlockPauseMs", "kPauseAfterBlockMs"),
    ("*.[ch]*", "announceHint", "speakHint", "Dialog::announceHint"),
    ("emulator/scenario.cpp", '"replug_after_ms"', '"replug_ms"'),  # in a fenced block
    ("emulator/scenario.cpp", '"esc_type_code"', '"type_code"'),  # `set esc_type_code = ...`
    ("tools/release.sh", "--firmware", "--image", "--firmware in tools/release.sh"),
    ("tools/virtual-unit", "plug | unplug)", "plug | pull)", "unplug of tools/virtual-unit"),
]


def scratch_copy(root, files, into):
    for f in files:
        os.makedirs(os.path.dirname(os.path.join(into, f)), exist_ok=True)
        shutil.copy(os.path.join(root, f), os.path.join(into, f))


def main():
    root = os.path.abspath(sys.argv[1])
    files = check_docs.repository_files(root)
    failures = []
    with tempfile.TemporaryDirectory() as scratch:
        for pattern, old, new, *named in [(None, None, None)] + RENAMES:
            copy = os.path.join(scratch, str(len(os.listdir(scratch))))
            scratch_copy(root, files, copy)
            if old and not pattern:
                os.rename(os.path.join(copy, old), os.path.join(copy, new))
            for f in fnmatch.filter(files, pattern) if pattern else []:
                with open(os.path.join(copy, f), encoding="utf-8") as h:
                    text = h.read()
                with open(os.path.join(copy, f), "w", encoding="utf-8") as h:
                    h.write(text.replace(old, new))
            _, problems = check_docs.check(copy)
            named = named[0] if named else old and old.split()[-1].strip('"').split("$")[0]
            caught = any(named in p for p in problems) if old else not problems
            shown = [p for p in problems if not old or named in p] or problems
            print(f"{'ok  ' if caught else 'FAIL'} {old or 'the copy as it is'}: "
                  f"{len(problems)} problems{': ' + shown[0] if problems else ''}")
            failures += [] if caught else [old]
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
