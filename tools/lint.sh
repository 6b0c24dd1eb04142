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
mingw_target=x86_64-w64-mingw32
gcc_dir=$(dirname "$($mingw_target-g++ -print-libgcc-file-name)")
cxx_headers=$gcc_dir/include/c++
if ! run-clang-tidy -quiet -p "$windows_build" -j 2 \
    -extra-arg=--target=$mingw_target -extra-arg=-nostdinc++ \
    -extra-arg=-isystem"$cxx_headers" -extra-arg=-isystem"$cxx_headers/$mingw_target" \
    -extra-arg=-isystem"$cxx_headers/backward" \
    '(app|link|update|resources|emulator)/[^/]*_win32\.cpp$' \
    >"$build/clang-tidy-windows.log" 2>&1; then
  grep -E 'warning:|error:' "$build/clang-tidy-windows.log" || tail -20 "$build/clang-tidy-windows.log"
  echo "FAIL clang-tidy (Windows edge)"
  status=1
fi
[ $status -eq 0 ] && echo "lint clean"
exit $status
