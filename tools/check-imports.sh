#!/usr/bin/env bash
# Fails when a Windows program statically imports a DLL that the system does not
# always take from its own directory (anything but the KnownDLLs below). Such a
# DLL would be searched for in the program's folder first.
#   check-imports.sh <objdump> <program.exe>...
set -euo pipefail
objdump=$1
shift
allowed=" advapi32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll setupapi.dll shell32.dll user32.dll "
status=0
for program in "$@"; do
  mapfile -t imports < <("$objdump" -p "$program" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  if [ ${#imports[@]} -eq 0 ]; then
    echo "FAIL no import table read from $program"
    status=1
  fi
  for dll in "${imports[@]}"; do
    if [[ "$allowed" == *" $dll "* ]]; then
      echo "ok   $(basename "$program") imports $dll"
    else
      echo "FAIL $(basename "$program") statically imports $dll, which is not a KnownDLL"
      status=1
    fi
  done
done
exit $status
