#!/usr/bin/env bash
# The code's lint: clang-tidy over the portable sources (using the native build's
# compile commands), over the Windows edge (using the Windows build's, configured here
# when it is not yet), and clang-format over every C++ file.
#   lint.sh [<native build folder> [<windows build folder>]]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
windows_build=${2:-build/windows}
status=0

mapfile -t formatted < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find app link update emulator resources tests bench -name '*.cpp' -o -name '*.h')
if ! clang-format --dry-run --Werror "${formatted[@]}"; then
  echo "FAIL clang-format: run clang-format -i on the files above"
  status=1
fi

if ! run-clang-tidy -quiet -p "$build" -j 2 \
    'app/[^/]*\.cpp$' 'link/[^/]*\.cpp$' 'update/[^/]*\.cpp$' 'emulator/[^/]*\.cpp$' \
    'resources/[^/]*\.cpp$' >"$build/clang-tidy.log" 2>&1; then
  grep -E 'warning:|error:' "$build/clang-tidy.log" || tail -20 "$build/clang-tidy.log"
  echo "FAIL clang-tidy"
  status=1
fi
# The Windows build's commands name the gcc cross compiler; clang-tidy reads them as
# clang for the same target, given the cross compiler's C++ headers, which clang does
# not find on its own where Debian keeps them.
if [ ! -f "$windows_build/compile_commands.json" ]; then
  cmake --preset windows >/dev/null
fi
# Every file of the Windows edge includes <windows.h>, whose parse and traversal cost
# clang-tidy far more than the file itself. So the files are read in a few translation
# units that include them one after another: one per set of compile flags, the emulated
# program's files apart from the shipped program's (both define the same factory).
# Diagnostics still name the file and line they are in; a clash of names between files
# of one unit shows as a compile error here.
units=$(realpath -m "$windows_build/lint-units")
rm -rf "$units" && mkdir -p "$units"
python3 - "$windows_build/compile_commands.json" "$units" "$PWD" <<'PY'
import json, re, sys
database, units, root = sys.argv[1], sys.argv[2], sys.argv[3]
edge = re.compile(r"(app|link|update|resources|emulator)/[^/]*_win32\.cpp$")
groups, seen = {}, set()
for entry in json.load(open(database)):
    path = entry["file"][len(root) + 1:] if entry["file"].startswith(root + "/") else entry["file"]
    if not edge.fullmatch(path) or path in seen:
        continue
    seen.add(path)
    flags = re.sub(r"\s-o\s+\S+|\s-c\s+\S+", "", entry["command"])
    groups.setdefault((flags, path.startswith("emulator/")), []).append(path)
commands = []
for index, ((flags, _), files) in enumerate(sorted(groups.items())):
    unit = f"{units}/edge{index}.cpp"
    with open(unit, "w") as out:
        out.writelines(f'#include "{root}/{path}"\n' for path in files)
    commands.append({"directory": units, "file": unit, "command": f"{flags} -c {unit}"})
json.dump(commands, open(f"{units}/compile_commands.json", "w"), indent=1)
PY
mingw_target=x86_64-w64-mingw32
gcc_dir=$(dirname "$($mingw_target-g++ -print-libgcc-file-name)")
cxx_headers=$gcc_dir/include/c++
if ! run-clang-tidy -quiet -p "$units" -j 2 \
    -header-filter='(app|link|update|emulator|resources)/[^/]*(\.h|_win32\.cpp)$' \
    -checks=-bugprone-suspicious-include \
    -extra-arg=--target=$mingw_target -extra-arg=-nostdinc++ \
    -extra-arg=-isystem"$cxx_headers" -extra-arg=-isystem"$cxx_headers/$mingw_target" \
    -extra-arg=-isystem"$cxx_headers/backward" \
    >"$build/clang-tidy-windows.log" 2>&1; then
  grep -E 'warning:|error:' "$build/clang-tidy-windows.log" || tail -20 "$build/clang-tidy-windows.log"
  echo "FAIL clang-tidy (Windows edge)"
  status=1
fi
[ $status -eq 0 ] && echo "lint clean"
exit $status
