#!/usr/bin/env bash
# Plants a DLL named like each library the program loads at run time beside a copy
# of the program, tells Wine to prefer such native DLLs, and checks that the
# program never loads one while it starts, works and closes. A careless loader in
# the same folder must load them all, or the check would prove nothing.
#   check_planted_dlls.sh <program.exe> <planted.dll> <naive_loader.exe> <driver.exe> <work folder>
set -euo pipefail
program=$1 planted=$2 naive=$3 driver=$4 work=$5
libraries=(hid comctl32 msimg32 winmm oleacc)
here=$(cd "$(dirname "$0")/../../.." && pwd)

rm -rf "$work"
mkdir -p "$work/app" "$work/naive" "$work/out"
cp "$program" "$work/app/orvanta-updater.exe"
cp "$naive" "$work/naive/naive-loader.exe"
overrides=""
for name in "${libraries[@]}"; do
  cp "$planted" "$work/app/$name.dll"
  cp "$planted" "$work/naive/$name.dll"
  overrides+="${overrides:+;}$name=n,b"
done
export WINEDLLOVERRIDES="$overrides;mscoree,mshtml="

status=0
"$here/tools/wine-run" "$work/naive/naive-loader.exe" "${libraries[@]/%/.dll}" || true
for name in "${libraries[@]}"; do
  if [ ! -e "$work/naive/$name.dll.loaded" ]; then
    echo "FAIL the careless loader did not load the planted $name.dll: the check cannot see planting"
    status=1
  fi
done

"$here/tools/wine-run" "$driver" startup "$work/app/orvanta-updater.exe" "$work/out" button || status=1
for name in "${libraries[@]}"; do
  if [ -e "$work/app/$name.dll.loaded" ]; then
    echo "FAIL the program loaded the planted $name.dll from its own folder"
    status=1
  else
    echo "ok   planted $name.dll not loaded"
  fi
done
exit $status
