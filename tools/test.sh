#!/usr/bin/env bash
# Builds and runs every test: the native suite with fuzzing and lint, the same suite
# with sanitizers, the Windows program built with clang as well, and the Windows
# program under Wine in a headless X server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

cmake --preset native >/dev/null
cmake --build --preset native -j2
ctest --preset native-full -j2

cmake --preset native-sanitize >/dev/null
cmake --build --preset native-sanitize -j2
ctest --preset native-sanitize -j2

# The Windows sources through a second compiler, every warning an error.
cmake --preset windows-clang >/dev/null
cmake --build --preset windows-clang -j2

cmake --preset windows >/dev/null
cmake --build --preset windows -j2

source tools/headless.sh
trap stop_headless EXIT
start_headless_display
prepare_wine_prefix
status=0
ctest --preset windows || status=$?

# Screenshots of the program as the tests saw it, for people to look at.
for bitmap in build/windows/screenshots/*.bmp; do
  [ -e "$bitmap" ] && convert "$bitmap" "${bitmap%.bmp}.png"
done
echo "screenshots: build/windows/screenshots/*.png"
exit $status
