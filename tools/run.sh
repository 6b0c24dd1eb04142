#!/usr/bin/env bash
# Builds the Windows program and runs it under Wine with the emulated programming
# unit (a ready, compatible ESC behind a TuneBOX, unless ORVANTA_EMULATOR_SCENARIO
# names a scenario file). Without a display it runs in a headless X server, saves a
# screenshot of the window and closes the program again.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j2

source tools/headless.sh
trap stop_headless EXIT
program=build/windows/orvanta-updater-emulated.exe
if [ -n "${DISPLAY:-}" ]; then
  prepare_wine_prefix
  wine "$program"
  exit 0
fi

start_headless_display
prepare_wine_prefix
wine "$program" &
pid=$!
title="VARIDYNE ORVANTA 210 HV FW Updater"
for _ in $(seq 1 600); do
  xwininfo -root -tree 2>/dev/null | grep -q "$title" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
# The first paint follows the window's appearance; wait until the screen stops changing.
previous=
for _ in $(seq 1 50); do
  current=$(import -window root -depth 8 rgb:- 2>/dev/null | md5sum)
  [ "$current" = "$previous" ] && break
  previous=$current
  sleep 0.2
done
import -window root build/windows/run-screenshot.png
echo "No display: ran headless; screenshot in build/windows/run-screenshot.png"
kill "$pid" 2>/dev/null || true
