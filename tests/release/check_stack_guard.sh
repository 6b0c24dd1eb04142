#!/usr/bin/env bash
# The stack guard under Wine: a fresh random value in each process, with its lowest byte
# zero, and an overrun ending the process with STATUS_STACK_BUFFER_OVERRUN.
#   check_stack_guard.sh <wine-run> <stack_smash.exe>
set -uo pipefail
wine_run=$1
program=$2
status=0
first=$("$wine_run" "$program" guard | tr -d '\r')
second=$("$wine_run" "$program" guard | tr -d '\r')
echo "guards: $first $second"
if [ -z "$first" ] || [ "$first" = "$second" ] || [ "$first" = "00002b992ddfa232" ]; then
  echo "FAIL the guard is not a fresh random value in each process"
  status=1
fi
[ "${first: -2}" = "00" ] || { echo "FAIL the guard's lowest byte is not zero"; status=1; }
output=$("$wine_run" "$program" smash 2>&1)
code=$?
# Wine passes the exit code on modulo 256: 0xC0000409 arrives as 9.
if [ $code -ne $((0xC0000409 & 0xFF)) ] || [[ "$output" == *returned* ]]; then
  echo "FAIL an overrun gave exit code $code and: $output"
  status=1
else
  echo "ok   an overrun ends the process with 0xC0000409"
fi
exit $status
