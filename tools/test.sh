#!/usr/bin/env bash
# Builds and runs every test: the native suite with sanitizers, lint (the workflows'
# too) and fuzzing, the Windows program built with clang as well, the release built
# twice and compared, the Windows program under Wine in headless X servers, and the
# portable suite as a Windows program under Wine. The Wine tests run in lanes side
# by side (ORVANTA_WINE_LANES, 3 by default), each lane with a Wine prefix and an X
# display of its own, made ready during the Windows build. They mostly wait for the
# program and the unit, so the work that needs the processor runs meanwhile, at a lower
# priority, in two chains that keep both cores busy, and its output follows theirs. At
# the end it prints how long each phase took.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
source tools/headless.sh

mkdir -p build
phase_log=build/test-phases.txt
: >"$phase_log"
# Runs "$@" as the phase named $1 and notes its time and status; returns that status.
# Inside it errexit does not act, so each step is chained.
phase() {
  local name=$1 start=$SECONDS status=0
  shift
  "$@" || status=$?
  printf '%-32s %4d s %s\n' "$name" $((SECONDS - start)) "${status/#0/}" >>"$phase_log"
  return $status
}

# The suite under address and undefined-behaviour sanitizers: the same tests as the
# quick suite, with every memory and arithmetic fault an error.
native_sanitize() {
  cmake --preset native-sanitize >/dev/null && cmake --build --preset native-sanitize -j2 &&
    ctest --preset native-sanitize -j2
}
# Lint and fuzzing need the plain build's compile commands, its generated headers and
# the fuzzer, not its objects; its tests are the ones above.
native_lint_fuzz() {
  cmake --preset native >/dev/null &&
    cmake --build --preset native -j2 --target generated/catalogue_data.inc orvanta_firmware_image link_fuzzer &&
    ctest --preset native-full -j2 -L 'lint|fuzz'
}
# The Windows sources through a second compiler, every warning an error; its programs'
# imports and headers checked as the gcc build's are.
windows_clang() {
  cmake --preset windows-clang >/dev/null && cmake --build --preset windows-clang -j2 &&
    ctest --test-dir build/windows-clang -R '^windows_static_imports$' --output-on-failure
}
# Everything but the portable suite, which is built beside the Wine tests.
windows_build() {
  cmake --preset windows >/dev/null && cmake --build build/windows -j2
}
# The portable suite as a Windows program; its build lists its tests under Wine.
portable_build() {
  renice -n 15 -p $BASHPID >/dev/null
  phase "windows: portable suite built" cmake --build build/windows -j2 --target orvanta_tests
}
# The ctest release_reproducible, run here directly so that no two ctest runs share the
# Windows build's folder; with its time limit.
release_builds() {
  timeout 600 bash tests/release/release_test.sh reproducible build/windows/release-check
}
# An X server for each lane, and the resource file that tells ctest about the lanes.
lanes=${ORVANTA_WINE_LANES:-3}
lane_spec=$PWD/build/wine-lanes.json
start_wine_displays() {
  local i entries=
  for ((i = 0; i < lanes; i++)); do
    start_headless_display || return 1
    export "ORVANTA_WINE_DISPLAY_lane$i=$DISPLAY"
    entries+="${entries:+, }{\"id\": \"lane$i\", \"slots\": 1}"
  done
  printf '{"version": {"major": 1, "minor": 0}, "local": [{"wine_lane": [%s]}]}\n' \
    "$entries" >"$lane_spec"
}
# A prepared Wine prefix for each lane.
prepare_wine_lanes() {
  local i preparing=()
  for ((i = 0; i < lanes; i++)); do
    (WINEPREFIX=$(wine_lane_prefix "lane$i") && prepare_wine_prefix) &
    preparing+=($!)
  done
  wait "${preparing[@]}"
}
stop_wine_lanes() {
  local i
  for ((i = 0; i < lanes; i++)); do
    WINEPREFIX=$(wine_lane_prefix "lane$i") wineserver -k >/dev/null 2>&1 || true
  done
  stop_headless
}
# Each side runs as a process group of its own, and the script waits for it with the
# shell's own wait, which a signal interrupts; however the script ends, it ends every
# group still running.
groups=()
start_group() {
  set -m
  "$@" </dev/null &
  group=$!
  set +m
  groups+=("$group")
}
in_group() {
  start_group "$@"
  wait "$group"
}
stop_groups() {
  local pid
  for pid in "${groups[@]}"; do kill -- -"$pid" 2>/dev/null || true; done
  for pid in "${groups[@]}"; do wait "$pid" 2>/dev/null || true; done
}
# Screenshots of the program as the tests saw it, for people to look at, and the time
# of each phase, however the script ends.
finish() {
  stop_groups
  stop_wine_lanes
  local bitmap
  for bitmap in build/windows/screenshots/*.bmp build/windows/screenshots/*/*.bmp; do
    [ -e "$bitmap" ] && convert "$bitmap" "${bitmap%.bmp}.png"
  done
  echo "screenshots: build/windows/screenshots/*/*.png"
  echo "time by phase, in the order they ended; the Wine tests and the processor's work"
  echo "ran side by side (a number after the time: the phase failed with it):"
  sed 's/^/  /' "$phase_log"
  printf '  %-32s %4d s\n' "the whole script" "$SECONDS"
}
trap finish EXIT
# Interrupted: end at once, rather than wait for the work beside the Wine tests.
trap 'exit 130' INT TERM

# The lanes' displays and prefixes are made ready, and the processor's work that does
# not need the Windows build starts, at a lower priority, while the Windows build runs.
start_wine_displays
start_group phase "wine: X servers and prefixes" prepare_wine_lanes
lanes_group=$group

# The processor's work, at a lower priority, in two chains beside the portable suite's
# build; a failed phase ends its chain. The first needs no Windows build and starts
# with it, the release's builds first, as they keep both cores busy less well than the
# sanitizers' build and suite; lint reads the Windows build's compile commands, and the
# second chain starts after it.
cpu_work() {
  renice -n 15 -p $BASHPID >/dev/null
  phase "release: builds and refusals" release_builds &&
    phase "native-sanitize: build, suite" native_sanitize
}
lint_fuzz() {
  renice -n 15 -p $BASHPID >/dev/null
  phase "native: lint, fuzzing" native_lint_fuzz &&
    phase "windows-clang: build" windows_clang
}
cpu_output=build/test-cpu-work.log
lint_output=build/test-lint-fuzz.log
start_group cpu_work >"$cpu_output" 2>&1
cpu_group=$group

phase "windows: build" in_group windows_build
start_group lint_fuzz >"$lint_output" 2>&1
lint_group=$group
portable_output=build/test-portable-build.log
start_group portable_build >"$portable_output" 2>&1
portable_group=$group

wine_status=0
{ wait "$lanes_group" || { echo "the Wine prefixes could not be made ready" >&2 && false; }; } &&
  phase "windows: tests under Wine" in_group ctest --preset windows -j"$lanes" \
    --resource-spec-file "$lane_spec" -LE 'release|portable' || wine_status=$?
# The portable suite under Wine: one run of the program in a prefix of its own, whose
# output each of its tests reads.
if wait "$portable_group"; then
  phase "windows: portable suite under Wine" in_group ctest --test-dir build/windows -j2 \
    -L portable --output-on-failure || wine_status=$?
else
  cat "$portable_output"
  wine_status=1
fi

cpu_status=0
wait "$cpu_group" || cpu_status=$?
wait "$lint_group" || cpu_status=$?
echo "---- the processor's work, run beside the Wine tests ($cpu_output, $lint_output) ----"
cat "$cpu_output" "$lint_output"
[ "$cpu_status" -eq 0 ] || exit "$cpu_status"
[ "$wine_status" -eq 0 ] || exit "$wine_status"
# The signed release under Wine and its checks, once both sides are done.
phase "release: signed program checked" in_group ctest --preset windows -j"$lanes" \
  --resource-spec-file "$lane_spec" -L release -E '^release_reproducible$' \
  --fixture-exclude-setup release_dist
