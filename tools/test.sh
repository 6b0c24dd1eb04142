#!/usr/bin/env bash
# Builds and runs every test: the native suite with fuzzing and lint, the same suite
# with sanitizers, the Windows program built with clang as well, and the Windows
# program under Wine in headless X servers. The Wine tests run in lanes side by side
# (ORVANTA_WINE_LANES, 2 by default), each lane with a Wine prefix and an X display of
# its own. At the end it prints how long each phase took.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
source tools/headless.sh

phases=()
# Runs "$@" as the phase named $1, notes its time and returns its status: a failed
# phase ends the script. Inside it errexit does not act, so each step is chained.
phase() {
  local name=$1 start=$SECONDS status=0
  shift
  "$@" || status=$?
  phases+=("$(printf '%-32s %4d s %s' "$name" $((SECONDS - start)) "${status/#0/}")")
  return $status
}

native_full() {
  cmake --preset native >/dev/null && cmake --build --preset native -j2 &&
    ctest --preset native-full -j2
}
native_sanitize() {
  cmake --preset native-sanitize >/dev/null && cmake --build --preset native-sanitize -j2 &&
    ctest --preset native-sanitize -j2
}
# The Windows sources through a second compiler, every warning an error.
windows_clang() {
  cmake --preset windows-clang >/dev/null && cmake --build --preset windows-clang -j2
}
windows_build() {
  cmake --preset windows >/dev/null && cmake --build --preset windows -j2
}

# An X server and a prepared Wine prefix for each lane, and the resource file that
# tells ctest about the lanes.
lanes=${ORVANTA_WINE_LANES:-2}
lane_spec=$PWD/build/windows/wine-lanes.json
start_wine_lanes() {
  local i entries= preparing=()
  for ((i = 0; i < lanes; i++)); do
    start_headless_display || return 1
    export "ORVANTA_WINE_DISPLAY_lane$i=$DISPLAY"
    (WINEPREFIX=$(wine_lane_prefix "lane$i") && prepare_wine_prefix) &
    preparing+=($!)
    entries+="${entries:+, }{\"id\": \"lane$i\", \"slots\": 1}"
  done
  wait "${preparing[@]}" || return 1
  mkdir -p "$(dirname "$lane_spec")" &&
    printf '{"version": {"major": 1, "minor": 0}, "local": [{"wine_lane": [%s]}]}\n' \
    "$entries" >"$lane_spec"
}
stop_wine_lanes() {
  local i
  for ((i = 0; i < lanes; i++)); do
    WINEPREFIX=$(wine_lane_prefix "lane$i") wineserver -k >/dev/null 2>&1 || true
  done
  stop_headless
}
# Screenshots of the program as the tests saw it, for people to look at, and the time
# of each phase, however the script ends.
finish() {
  stop_wine_lanes
  local bitmap
  for bitmap in build/windows/screenshots/*.bmp build/windows/screenshots/*/*.bmp; do
    [ -e "$bitmap" ] && convert "$bitmap" "${bitmap%.bmp}.png"
  done
  echo "screenshots: build/windows/screenshots/*/*.png"
  echo "time by phase (a number after the time: the phase failed with it):"
  printf '  %s\n' "${phases[@]}"
}
trap finish EXIT

phase "native: build, full suite" native_full
phase "native-sanitize: build, suite" native_sanitize
phase "windows-clang: build" windows_clang
phase "windows: build" windows_build
# The two release builds need the processor; the tests under Wine mostly wait.
phase "release: two builds compared" ctest --preset windows -R '^release_reproducible$'
phase "wine: X servers and prefixes" start_wine_lanes
phase "windows: tests under Wine" ctest --preset windows -j"$lanes" \
  --resource-spec-file "$lane_spec" -E '^release_reproducible$' --fixture-exclude-setup release_dist
