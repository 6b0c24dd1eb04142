#!/usr/bin/env bash
# Builds the release of the checkout this script stands in and writes dist/: the program
# carrying the ESC firmware image FILE byte for byte, without debug sections, and
# SHA256SUMS of it, which are published; its symbols for crash analysis and
# firmware.sha256 with the image's SHA-256, which support keeps.
# The same commit and image give the same program whatever the folder, the clock, the time
# zone and the umask. Signed with Authenticode when a certificate chain and its key are
# given:
#   [ORVANTA_SIGN_CERT=chain.pem ORVANTA_SIGN_KEY=key.pem]
#   [ORVANTA_SIGN_TIMESTAMP_URL=http://...] bash tools/release.sh --firmware FILE
# FILE must be the 90224-byte image the ESC's maker provides, a regular file; it is read
# once, into a copy of the script's own that is judged, built in, hashed and found in the
# program afterwards. The stand-in that builds and tests carry is refused unless
# --allow-stand-in is given as well.
# Relative paths are taken from the folder the script is called from. The new release is
# made in dist.new/ and takes the place of dist/ only once all of it has succeeded: a
# failed or interrupted run (Ctrl-C, SIGTERM) leaves the last good dist/ as it was, or the
# new one if it was already in place, and says which.
set -euo pipefail
called_from=$PWD
cd "$(dirname "$0")/.."
new=dist.new

# Each long step runs as a process group of its own, waited for with the shell's wait,
# which a signal interrupts at once: the shell runs its traps only once a foreground
# command has ended, and a build or a signing tool waiting for its time-stamp server may
# take minutes, or never see a Ctrl-C that reaches only the script.
stepping=false
step() {
  local status=0
  stepping=true
  set -m
  "$@" </dev/null &
  set +m
  wait $! || status=$?
  stepping=false
  return $status
}
# Ends the step still running: TERM to its whole group, KILL to what is left of it after a
# few seconds, so that nothing writes into the release once the script has cleaned up.
stop_step() {
  local group=${!:-} killer
  $stepping && [ -n "$group" ] || return 0
  kill -TERM -- -"$group" 2>/dev/null || true
  set -m
  (sleep 5 && kill -KILL -- -"$group") </dev/null >/dev/null 2>&1 &
  killer=$!
  set +m
  wait "$group" 2>/dev/null || true
  kill -KILL -- -"$killer" 2>/dev/null || true
  wait "$killer" 2>/dev/null || true
}

# A path as the caller meant it.
from_caller() {
  case $1 in
    "" | /*) echo "$1" ;;
    *) echo "$called_from/$1" ;;
  esac
}

# Whatever ends the script early, the new release goes and the last good one stays.
# dist.old/ holds it only between the two moves that replace dist/, here or in a run that
# was cut short there. Once dist.new/ has become dist/, the new release stands.
interrupted=
replacing=false
finish_early() {
  set +e +m
  trap '' INT TERM
  stop_step
  local what="failed" left="dist/ is left as it was"
  [ -z "$interrupted" ] || what="interrupted by $interrupted"
  if $replacing && [ ! -d "$new" ] && [ -d dist ]; then
    left="dist/ holds the new release"
  fi
  rm -rf "$new"
  [ -d dist ] || [ ! -d dist.old ] || mv dist.old dist
  [ ! -d dist ] || rm -rf dist.old
  [ -d dist ] || left="there is no dist/"
  echo "release: $what; $left" >&2
}
trap 'status=$?; [ $status -eq 0 ] || finish_early' EXIT
trap 'interrupted=SIGINT; exit 130' INT
trap 'interrupted=SIGTERM; exit 143' TERM

firmware=''
allow_stand_in=()
while [ $# -gt 0 ]; do
  case $1 in
    --firmware)
      if [ -n "$firmware" ]; then
        echo "release: --firmware given twice; a release carries one image" >&2
        exit 1
      fi
      firmware=${2:-}
      shift $(($# > 1 ? 2 : 1))
      ;;
    --allow-stand-in)
      allow_stand_in=(--allow-stand-in)
      shift
      ;;
    *)
      echo "release: unknown argument $1; usage: tools/release.sh --firmware FILE [--allow-stand-in]" >&2
      exit 2
      ;;
  esac
done
if [ -z "$firmware" ]; then
  echo "release: no firmware image: --firmware FILE names the image from the ESC's maker that the release carries" >&2
  exit 1
fi
firmware=$(from_caller "$firmware")
if [ ! -r "$firmware" ]; then
  echo "release: the firmware image $firmware cannot be read" >&2
  exit 1
fi
step bash tools/install-deps.sh
# The image is read once, into a copy that the script alone writes: its length, that it is
# a regular file, no byte repeated and not the stand-in, judged before anything is built.
# The build, the checksums and the check of the program all use that copy, so the file
# changing meanwhile changes nothing.
image=build/release-image/image.bin
rm -rf build/release-image
step python3 tools/gen_firmware.py --check "$firmware" --keep "$image" "${allow_stand_in[@]}"

export TZ=UTC LC_ALL=C.UTF-8
umask 022
# The program header's time stamp is the commit's time, not the build's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if ! SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null); then
    echo "release: not a git checkout; set SOURCE_DATE_EPOCH to the source's time" >&2
    exit 1
  fi
fi
export SOURCE_DATE_EPOCH

sign_cert=$(from_caller "${ORVANTA_SIGN_CERT:-}")
sign_key=$(from_caller "${ORVANTA_SIGN_KEY:-}")
if [ -n "$sign_cert$sign_key" ] && { [ ! -r "$sign_cert" ] || [ ! -r "$sign_key" ]; }; then
  echo "release: ORVANTA_SIGN_CERT and ORVANTA_SIGN_KEY must both name readable PEM files" >&2
  exit 1
fi

rm -rf "$new"
step cmake --preset release -DORVANTA_FIRMWARE_IMAGE="$PWD/$image" >/dev/null
step cmake --build --preset release -j2

mingw=x86_64-w64-mingw32
built=build/release/orvanta-updater.exe
unsigned=build/release/orvanta-updater-unsigned.exe
mkdir "$new"
# The symbols go to their own file; the program keeps only its name and checksum.
step $mingw-objcopy --only-keep-debug "$built" "$new/orvanta-updater.debug"
step $mingw-objcopy --strip-all --add-gnu-debuglink="$new/orvanta-updater.debug" "$built" "$unsigned"
# The run-from-swap flags that objcopy dropped set again; padded and checksummed as
# signing does, so that removing a signature gives these bytes.
step python3 tools/pe_align.py "$unsigned"
step bash tools/check-imports.sh $mingw-objdump --hardened "$unsigned" \
  gdi32.dll kernel32.dll msvcrt.dll setupapi.dll user32.dll >/dev/null

if [ -n "$sign_cert" ]; then
  timestamp=()
  if [ -n "${ORVANTA_SIGN_TIMESTAMP_URL:-}" ]; then
    timestamp=(-ts "$ORVANTA_SIGN_TIMESTAMP_URL")
  fi
  # osslsigncode signs with a key that does not belong to the certificate, and the
  # signature then verifies nowhere.
  if [ "$(openssl x509 -in "$sign_cert" -noout -pubkey)" != "$(openssl pkey -in "$sign_key" -pubout)" ]; then
    echo "release: the key in ORVANTA_SIGN_KEY does not belong to the certificate in ORVANTA_SIGN_CERT" >&2
    exit 1
  fi
  step osslsigncode sign -certs "$sign_cert" -key "$sign_key" -h sha256 \
    -n "ORVANTA 210 HV firmware updater" -i "https://www.varidyne.example" \
    "${timestamp[@]}" -in "$unsigned" -out "$new/orvanta-updater.exe" >/dev/null
  signed="signed with $(openssl x509 -in "$sign_cert" -noout -subject)"
  [ ${#timestamp[@]} -gt 0 ] || signed+=", without a time stamp"
else
  cp "$unsigned" "$new/orvanta-updater.exe"
  signed="UNSIGNED: ORVANTA_SIGN_CERT and ORVANTA_SIGN_KEY are not set, so Windows will warn of an unknown publisher"
fi
# The program as published holds the judged image, byte for byte, exactly once.
step python3 tools/gen_firmware.py --check "$image" --allow-stand-in --once-in "$new/orvanta-updater.exe"

# The checksums of what is published, and only of that (docs/release.md#published-files).
(cd "$new" && sha256sum orvanta-updater.exe >SHA256SUMS)
# The image's checksum stays with the release, named as the maker's file is.
image_sum=$(sha256sum <"$image" | cut -d' ' -f1)
echo "$image_sum  $(basename "$firmware")" >"$new/firmware.sha256"
replacing=true
if [ -d dist ]; then
  rm -rf dist.old
  mv dist dist.old
fi
mv "$new" dist
rm -rf dist.old
commit=$(git rev-parse --short HEAD 2>/dev/null || echo "no commit")
[ -z "$(git status --porcelain --untracked-files=no 2>/dev/null)" ] || commit+=" with local changes"
echo "dist/ from $commit (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH):"
cat dist/SHA256SUMS
echo "firmware image $firmware: SHA-256 $image_sum (kept in dist/firmware.sha256)"
echo "dist/orvanta-updater.exe is $signed"
