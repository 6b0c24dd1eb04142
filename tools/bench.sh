#!/usr/bin/env bash
# Runs the update benchmarks: one full update against the emulated unit natively,
# then the emulated Windows build under Wine in a headless X server, each timed in
# real time. Builds what is missing first. Prints figures; judges nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset native >/dev/null
cmake --build --preset native -j2 --target orvanta-update-bench
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target orvanta-updater-emulated orvanta-wine-driver

echo
build/native/bench/orvanta-update-bench

source tools/headless.sh
trap stop_headless EXIT
start_headless_display
prepare_wine_prefix
output=build/windows/bench
mkdir -p "$output"
echo
LANG=en_US.UTF-8 wine build/windows/tests/wine/orvanta-wine-driver.exe bench-update \
  "$PWD/build/windows/orvanta-updater-emulated.exe" "$PWD/$output" \
  "$PWD/build/windows/generated/firmware_image.bin"
