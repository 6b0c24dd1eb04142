#!/usr/bin/env bash
# The code's lint: clang-tidy over the portable sources (using the native build's
# compile commands) and clang-format over every C++ file.
#   lint.sh <native build folder>
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
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
[ $status -eq 0 ] && echo "lint clean"
exit $status
