#!/usr/bin/env bash
# Runs the update benchmarks, each one full update timed in real time:
#   - natively, against the emulated unit;
#   - the emulated Windows build under Wine;
#   - the shipped program under Wine against the virtual unit (tools/virtual-unit),
#     with the round trip of one exchange through that path measured first on the
#     same unit by the smoke program, its exchanges as far apart as the update's
#     blocks.
# The Wine runs run in a headless X server; for them it also prints the processor
# time of every process of the Wine session over the update, read from /proc at the
# marks the test driver leaves. Builds what is missing first. Prints figures; judges
# nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset native >/dev/null
cmake --build --preset native -j2 --target orvanta-update-bench
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target orvanta-updater orvanta-updater-emulated \
  orvanta-wine-driver orvanta-virtual-unit orvanta-virtual-unit-smoke orvanta-vunit-bus \
  orvanta-vunit-hid

# shellcheck source=tools/headless.sh
source tools/headless.sh
output=$PWD/build/windows/bench
driver=build/windows/tests/wine/orvanta-wine-driver.exe
smoke=build/windows/virtual-unit/orvanta-virtual-unit-smoke.exe
image=$PWD/build/windows/generated/firmware_image.bin
# The reply latency of a real unit on full-speed USB, as the other runs assume.
reply_latency_ms=2
round_trips=300
round_trip_pause_ms=20
clock_ticks=$(getconf CLK_TCK)
mkdir -p "$output"

work=$(mktemp -d)
driver_pid=
cleanup() {
  local status=$?
  trap '' INT TERM
  trap - EXIT
  stop_program_and_unit "$driver_pid"
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Short naps without a process of their own: a read with a time limit on a pipe that
# never carries anything.
mkfifo "$work/nap"
exec {nap_fd}<>"$work/nap"
nap() { read -r -t "$1" -u "$nap_fd" _ || true; }

in_session() {
  local entry
  while IFS= read -r -d '' entry; do
    [ "$entry" = "WINEPREFIX=$WINEPREFIX" ] && return 0
  done 2>/dev/null <"$1"
  return 1
}

# One line per process of this Wine session (Wine's processes, the wineserver and the
# X server, all started with this WINEPREFIX): pid, user + system time in clock ticks,
# name. Builtins only, so that reading costs the session nothing.
session_times() {
  local environ pid line name
  local -a fields
  for environ in /proc/[0-9]*/environ; do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    in_session "$environ" || continue
    { IFS= read -r -d '' name <"/proc/$pid/cmdline"; } 2>/dev/null || true
    name=${name##*[\\/]}
    case $name in
    *.exe | wineserver* | Xvfb) ;;
    *) continue ;;
    esac
    { read -r line <"/proc/$pid/stat"; } 2>/dev/null || continue
    # Fields from the third on, after the name in parentheses; utime and stime are
    # the 14th and 15th.
    read -r -a fields <<<"${line##*) }"
    echo "$pid $((fields[11] + fields[12])) $name"
  done
}

# Waits for the driver's mark file, reads every process's times into $2, keeps the
# mark's text in $2.mark and takes the mark; fails when the driver ends first.
take_mark() {
  local mark=$1 out=$2
  until [ -e "$mark" ]; do
    kill -0 "$driver_pid" 2>/dev/null || return 1
    nap 0.02
  done
  session_times >"$out"
  cp "$mark" "$out.mark"
  rm -f "$mark"
}

mark_value() { sed -n "s/^$2 = //p" "$1.mark"; }

# The processor time of each process between the two readings, largest first, with its
# share of the wall time.
print_times() {
  local start=$1 end=$2 wall
  wall=$(mark_value "$end" wall_s)
  echo "  processor time over the update (user + system, /proc), share of wall time"
  awk -v hz="$clock_ticks" 'NR == FNR { before[$1] = $2; next }
    { print ($2 - ($1 in before ? before[$1] : 0)) / hz, $1, $3 }' "$start" "$end" |
    sort -k1,1gr |
    awk -v wall="$wall" '{ total += $1
        printf "    %-30s pid %-7s %8.3f s  %5.2f %%\n", $3, $2, $1, 100 * $1 / wall }
      END { printf "    %-42s %8.3f s  %5.2f %%\n", "all of them", total, 100 * total / wall }'
}

# The shipped program's own processor time per exchange of the update: what its side of
# each exchange costs (the transfer's set-up, the waits, the copies).
print_program_cost() {
  local start=$1 end=$2 exchanges=$3
  awk -v hz="$clock_ticks" -v n="$exchanges" 'NR == FNR { before[$1] = $2; next }
    $3 == "orvanta-updater.exe" { used = ($2 - before[$1]) / hz }
    END { printf "  the program'"'"'s processor time per exchange  %8.1f us  (%d exchanges)\n",
          1e6 * used / n, n }' "$start" "$end"
}

# Runs one of the driver's bench scenarios on a program in the background, reading the
# session's times at its marks; $3 names the files of this run.
timed_update() {
  local scenario=$1 program=$2 name=$3
  rm -f "$output"/bench-update.start "$output"/bench-update.end
  # Output through a file: a Wine session that this run starts must not hold a pipe.
  LANG=en_US.UTF-8 wine "$driver" "$scenario" "$PWD/$program" "$output" "$image" \
    </dev/null >"$work/$name.out" 2>&1 &
  driver_pid=$!
  local marked=1
  take_mark "$output/bench-update.start" "$work/$name.start" &&
    take_mark "$output/bench-update.end" "$work/$name.end" || marked=
  local status=0
  wait "$driver_pid" || status=$?
  driver_pid=
  grep -v -e '^ok ' -e '^scenario ' -e '^0 failed check' -e 'wine32 is missing' -e 'multiarch needs' -e 'dpkg --add-architecture' \
    -e 'apt-get install wine32' "$work/$name.out" || true
  if [ $status -ne 0 ] || [ -z "$marked" ]; then
    echo "the $scenario run failed (exit $status)" >&2
    return 1
  fi
}

echo
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
build/native/bench/orvanta-update-bench

start_headless_display
prepare_wine_prefix

echo
timed_update bench-update build/windows/orvanta-updater-emulated.exe emulated
print_times "$work/emulated.start" "$work/emulated.end"
# The emulated run's Wine session ends; the virtual unit starts its own.
wineserver -k >/dev/null 2>&1 || true

echo
printf 'reply_latency_ms = %s\n' "$reply_latency_ms" >"$output/virtual-unit.scenario"
tools/virtual-unit start "$output/virtual-unit.scenario" >/dev/null
wine "$smoke" present 0x2e4a 2 60 60 --round-trips "$round_trips" \
  --pause-ms "$round_trip_pause_ms" </dev/null >"$work/round-trips.out" 2>&1 || {
  cat "$work/round-trips.out" >&2
  echo "measuring the round trip through the virtual unit failed" >&2
  exit 1
}
median_us=$(sed -n 's/.*round trip.* median \([0-9]*\) us.*/\1/p' "$work/round-trips.out")
mean_us=$(sed -n 's/.*round trip.* mean \([0-9]*\) us.*/\1/p' "$work/round-trips.out")
if [ -z "$median_us" ] || [ -z "$mean_us" ]; then
  cat "$work/round-trips.out" >&2
  echo "the smoke program printed no round trip" >&2
  exit 1
fi
timed_update bench-update-system build/windows/orvanta-updater.exe virtual
awk -v median="$median_us" -v mean="$mean_us" -v n="$(mark_value "$work/virtual.end" exchanges)" \
  -v wall="$(mark_value "$work/virtual.end" wall_s)" -v count="$round_trips" \
  -v paced0="$(mark_value "$work/virtual.end" paced_s)" \
  -v apart="$round_trip_pause_ms" -v latency="$reply_latency_ms" 'BEGIN {
    printf "  round trip of one exchange     %8.3f ms median, %.3f ms mean\n", median / 1000, mean / 1000
    printf "    (smoke program, same unit, %d ms replies, %d exchanges %d ms apart, before the update)\n",
      latency, count, apart
    for (i = 1; i <= 2; i++) {
      rt = i == 1 ? median : mean
      paced = paced0 + n * rt / 1e6
      printf "  ratio to %.2f s + %d x %s  %8.4f  (%.3f s)\n", paced0, n, i == 1 ? "median" : "mean  ",
        wall / paced, paced
    }
  }'
print_times "$work/virtual.start" "$work/virtual.end"
print_program_cost "$work/virtual.start" "$work/virtual.end" "$(mark_value "$work/virtual.end" exchanges)"
tools/virtual-unit stop >/dev/null
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
