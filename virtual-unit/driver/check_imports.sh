#!/usr/bin/env bash
# Fails when a driver imports a DLL outside its allowed list, or is not a
# native-subsystem image.
#   check_imports.sh <objdump> <driver.sys> <allowed dll>... [-- <driver.sys> <allowed dll>...]
set -euo pipefail
objdump=$1
shift
status=0
while [ $# -gt 0 ]; do
  driver=$1
  shift
  allowed=" "
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    allowed+="$(printf '%s' "$1" | tr '[:upper:]' '[:lower:]') "
    shift
  done
  [ $# -gt 0 ] && shift
  headers=$("$objdump" -p "$driver")
  mapfile -t imports < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr '[:upper:]' '[:lower:]')
  if ! grep -Eq '^Subsystem\s+00000001' <<<"$headers"; then
    echo "FAIL $(basename "$driver") is not a native-subsystem image"
    status=1
  fi
  if [ ${#imports[@]} -eq 0 ]; then
    echo "FAIL no import table read from $driver"
    status=1
  fi
  for dll in "${imports[@]}"; do
    if [[ "$allowed" == *" $dll "* ]]; then
      echo "ok   $(basename "$driver") imports $dll"
    else
      echo "FAIL $(basename "$driver") imports $dll; Wine loads it as a driver only with:$allowed"
      status=1
    fi
  done
done
exit $status
