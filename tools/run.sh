#!/usr/bin/env bash
# Builds the Windows program and runs it under Wine with the emulated programming
# unit (a ready, compatible ESC behind a TuneBOX, unless ORVANTA_EMULATOR_SCENARIO
# names a scenario file). Without a display it runs in a headless X server and
# saves a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j2

source tools/headless.sh
trap stop_headless EXIT
if [ -z "${DISPLAY:-}" ]; then
  start_headless_display
  prepare_wine_prefix
  wine build/windows/orvanta-updater-emulated.exe &
  program=$!
  sleep 8
  import -window root build/windows/run-screenshot.png
  echo "No display: ran headless; screenshot in build/windows/run-screenshot.png"
  kill "$program" 2>/dev/null || true
else
  prepare_wine_prefix
  wine build/windows/orvanta-updater-emulated.exe
fi
