#!/usr/bin/env bash
# Builds and runs every test: the native suite, the same suite with sanitizers,
# and the Windows program under Wine in a headless X server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

cmake --preset native >/dev/null
cmake --build --preset native -j2
ctest --preset native -j2

cmake --preset native-sanitize >/dev/null
cmake --build --preset native-sanitize -j2
ctest --preset native-sanitize -j2 -E 'fuzz|lint'

cmake --preset windows >/dev/null
cmake --build --preset windows -j2

source tools/headless.sh
trap stop_headless EXIT
start_headless_display
prepare_wine_prefix
ctest --preset windows
