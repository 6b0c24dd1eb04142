#!/usr/bin/env bash
# Builds the Windows program and runs the shipped orvanta-updater.exe under Wine
# against the virtual unit (tools/virtual-unit), which the program finds through the
# system's HID stack as it would a unit on USB.
#
#   tools/run.sh [SCENARIO]
#
# Without SCENARIO the unit is a ready, compatible ESC with firmware 0.9 behind a
# TuneBOX; SCENARIO is a scenario file as for tools/virtual-unit (emulator/scenario.h).
# With DISPLAY set the program opens there and the script returns when it is closed;
# without one it runs in a headless X server, saves a screenshot of the screen to
# build/windows/run-screenshot.png and closes the program again. The virtual unit's
# host, the Wine session and the headless X server end with the script on every way
# out, Ctrl-C included.
set -euo pipefail

scenario=
if [ $# -gt 1 ]; then
  echo "usage: tools/run.sh [SCENARIO]" >&2
  exit 2
fi
if [ $# -eq 1 ]; then
  [ -f "$1" ] || {
    echo "run: no scenario file $1" >&2
    exit 2
  }
  scenario=$(realpath "$1")
fi

cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j2

# shellcheck source=tools/headless.sh
source tools/headless.sh
program=build/windows/orvanta-updater.exe
screenshot=build/windows/run-screenshot.png
title="VARIDYNE ORVANTA 210 HV FW Updater"
# Bounds of the waits, in seconds.
window_s=60
settle_s=10

program_pid=
cleanup() {
  local status=$?
  # Bounded steps; a second Ctrl-C must not leave them half done.
  trap '' INT TERM
  trap - EXIT
  stop_program_and_unit "$program_pid"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "run: $*" >&2
  exit 1
}

headless=
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  start_headless_display
fi
prepare_wine_prefix
tools/virtual-unit start ${scenario:+"$scenario"} ||
  fail "the virtual unit did not start (see above; its log: tools/virtual-unit status)"

# In the background, so that a signal reaches the trap at once instead of waiting
# for Wine to end.
wine "$program" </dev/null &
program_pid=$!

if [ -z "$headless" ]; then
  status=0
  wait "$program_pid" || status=$?
  program_pid=
  exit "$status"
fi

deadline=$((SECONDS + window_s))
until xwininfo -root -tree 2>/dev/null | grep -q "$title"; do
  kill -0 "$program_pid" 2>/dev/null || fail "the program ended before its window appeared"
  [ $SECONDS -lt $deadline ] || fail "the program's window did not appear within ${window_s} s"
  sleep 0.1
done
# The first paint and the probe of the unit follow the window's appearance; wait
# until the screen stops changing.
previous=
deadline=$((SECONDS + settle_s))
while [ $SECONDS -lt $deadline ]; do
  current=$(import -window root -depth 8 rgb:- 2>/dev/null | md5sum)
  [ "$current" = "$previous" ] && break
  previous=$current
  sleep 0.2
done
import -window root "$screenshot"
echo "No display: ran headless; screenshot in $screenshot"
