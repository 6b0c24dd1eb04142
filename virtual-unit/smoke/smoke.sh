#!/usr/bin/env bash
# The virtual unit from end to end, in the prefix of the Wine tests: install the
# drivers, serve scenarios with tools/virtual-unit, and check each unit through the
# Windows HID calls. A unit that cannot be installed fails the test.
#   smoke.sh <smoke program>
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
tool=$root/tools/virtual-unit
program=$1
source "$root/tools/headless.sh"

work=$(mktemp -d)
cleanup() {
  "$tool" stop >/dev/null 2>&1 || true
  # Nothing of this test may outlive it: the Wine session ends with it.
  timeout 10 wineserver -w >/dev/null 2>&1 || wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

step() { echo "== $*"; }

# Runs the smoke program; its output goes through a file, never a pipe.
smoke() {
  local status=0
  wine "$program" "$@" </dev/null >"$work/smoke.out" 2>&1 || status=$?
  grep -v -e 'wine32 is missing' -e 'multiarch needs' -e 'dpkg --add-architecture' \
    -e 'apt-get install wine32' "$work/smoke.out" || true
  return $status
}

scenario() {
  local name=$1
  shift
  printf '%s\n' "$@" >"$work/$name.scenario"
  echo "$work/$name.scenario"
}

state_is() { grep -qx "state = $1" "$WINEPREFIX/orvanta-virtual-unit/state"; }

step "install"
"$tool" install

step "a ready unit: ids, lengths, one exchange byte for byte, unplug and plug"
trace=$work/ready.trace
flash=$work/ready.flash
ready=$(scenario ready "reply_latency_ms = 0" "trace_file = $(windows_path "$trace")" \
  "flash_file = $(windows_path "$flash")")
"$tool" start "$ready"
smoke present 0x2e4a 2 60 60 --identify "$(windows_path "$trace")" --round-trips 200
"$tool" unplug
smoke absent 0x2e4a 2
"$tool" plug
smoke present 0x2e4a 2 60 60 --identify "$(windows_path "$trace")"
"$tool" stop
[ "$(stat -c %s "$flash" 2>/dev/null)" = 131072 ] || {
  echo "FAIL the host did not write the ESC's flash to $flash"
  exit 1
}

step "a unit that starts unplugged"
"$tool" start "$(scenario absent "unit_present = false")"
state_is unplugged || {
  echo "FAIL the host plugged a unit that the scenario leaves out"
  exit 1
}
smoke absent 0x2e4a 2
"$tool" plug
smoke present 0x2e4a 2 60 60
"$tool" stop

step "faults: no answer, a failing write, a unit that vanishes"
trace=$work/faults.trace
faults=$(scenario faults "reply_latency_ms = 0" "trace_file = $(windows_path "$trace")" \
  "fault = no_answer exchange=2" "fault = write_fails exchange=3" "fault = unplug exchange=4")
"$tool" start "$faults"
smoke faults 0x2e4a 2 60 60 "$(windows_path "$trace")"
wait_until 30 state_is unplugged || {
  echo "FAIL the host does not report the vanished unit as unplugged"
  exit 1
}
"$tool" plug
smoke present 0x2e4a 2 60 60 --identify "$(windows_path "$trace")"
"$tool" stop

# Lengths the updater refuses must still reach it exactly as announced, and reports of
# those lengths pass unchanged.
while read -r name product input output; do
  step "$name: product $product, reports $input/$output bytes"
  trace=$work/$name.trace
  if [ "$name" = default ]; then
    "$tool" start
    smoke present 0x2e4a "$product" "$input" "$output"
  else
    "$tool" start "$(scenario "$name" "product_id = $product" "input_report_length = $input" \
      "output_report_length = $output" "trace_file = $(windows_path "$trace")")"
    smoke present 0x2e4a "$product" "$input" "$output" --identify "$(windows_path "$trace")"
  fi
  "$tool" stop
done <<'EOF'
default 2 60 60
oversized 2 65 65
uneven 1 60 61
EOF
state_is stopped
echo "virtual unit smoke test passed"
