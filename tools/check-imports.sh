#!/usr/bin/env bash
# Fails when a Windows image imports a DLL outside the list allowed for it, with --native
# when it is not a native-subsystem image (a driver), and with --hardened when it lacks
# ASLR with high entropy (and the relocations it needs), DEP, or the flags that load it
# whole from the swap file when it stands on a network share or a removable drive.
#   check-imports.sh <objdump> GROUP [-- GROUP]...
#   GROUP: [--native | --hardened] <image> <allowed dll>...
set -euo pipefail
objdump=$1
shift
status=0
while [ $# -gt 0 ]; do
  native=false
  hardened=false
  if [ "$1" = "--native" ]; then
    native=true
    shift
  elif [ "$1" = "--hardened" ]; then
    hardened=true
    shift
  fi
  image=$1
  shift
  allowed=" "
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    allowed+="$(printf '%s' "$1" | tr '[:upper:]' '[:lower:]') "
    shift
  done
  [ $# -gt 0 ] && shift
  headers=$("$objdump" -p "$image")
  mapfile -t imports < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr '[:upper:]' '[:lower:]')
  if $native && ! grep -Eq '^Subsystem\s+00000001' <<<"$headers"; then
    echo "FAIL $(basename "$image") is not a native-subsystem image"
    status=1
  fi
  if $hardened; then
    # IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA, _DYNAMIC_BASE and _NX_COMPAT.
    flags=$(sed -n 's/^DllCharacteristics\s*//p' <<<"$headers")
    if [ -z "$flags" ] || [ $((0x$flags & 0x160)) -ne $((0x160)) ]; then
      echo "FAIL $(basename "$image") DllCharacteristics ${flags:-missing}: want ASLR, high entropy, DEP"
      status=1
    elif grep -q 'relocations stripped' <<<"$headers" || ! grep -q 'Base Relocation Directory \[\.reloc\]' <<<"$headers"; then
      echo "FAIL $(basename "$image") has no relocations, so it cannot move"
      status=1
    else
      echo "ok   $(basename "$image") DllCharacteristics $flags: ASLR, high entropy, DEP"
    fi
    # IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP and IMAGE_FILE_NET_RUN_FROM_SWAP.
    flags=$(sed -n 's/^Characteristics\s*//p' <<<"$headers")
    if [ -z "$flags" ] || [ $((flags & 0xc00)) -ne $((0xc00)) ]; then
      echo "FAIL $(basename "$image") Characteristics ${flags:-missing}: want run from swap on removable and network media"
      status=1
    else
      echo "ok   $(basename "$image") Characteristics $flags: run from swap on removable and network media"
    fi
  fi
  if [ ${#imports[@]} -eq 0 ]; then
    echo "FAIL no import table read from $image"
    status=1
  fi
  for dll in "${imports[@]}"; do
    if [[ "$allowed" == *" $dll "* ]]; then
      echo "ok   $(basename "$image") imports $dll"
    else
      echo "FAIL $(basename "$image") imports $dll; allowed are only:$allowed"
      status=1
    fi
  done
done
exit $status
