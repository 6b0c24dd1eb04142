#!/usr/bin/env bash
# Builds the release of the checkout this script stands in and writes dist/: the program
# without debug sections, its symbols beside it for crash analysis, and SHA256SUMS. The
# same commit gives the same program whatever the folder, the clock, the time zone and
# the umask. Signed with Authenticode when a certificate chain and its key are given:
#   ORVANTA_SIGN_CERT=chain.pem ORVANTA_SIGN_KEY=key.pem \
#   [ORVANTA_SIGN_TIMESTAMP_URL=http://...] bash tools/release.sh
# Relative paths are taken from the folder the script is called from. The new release is
# made in dist.new/ and takes the place of dist/ only once all of it has succeeded: a
# failed run leaves the last good dist/ as it was.
set -euo pipefail
called_from=$PWD
cd "$(dirname "$0")/.."
new=dist.new
# Whatever ends the script early, the new release goes and the last good one stays:
# dist.old/ holds it only while dist/ is being replaced, here or in a run that was cut
# short between its two moves.
failed() {
  rm -rf "$new"
  [ -d dist ] || [ ! -d dist.old ] || mv dist.old dist
  if [ -d dist ]; then
    echo "release: failed; dist/ is left as it was" >&2
  else
    echo "release: failed; there is no dist/" >&2
  fi
}
trap 'status=$?; [ $status -eq 0 ] || failed' EXIT
bash tools/install-deps.sh

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

# A path as the caller meant it.
from_caller() {
  case $1 in
    "" | /*) echo "$1" ;;
    *) echo "$called_from/$1" ;;
  esac
}
sign_cert=$(from_caller "${ORVANTA_SIGN_CERT:-}")
sign_key=$(from_caller "${ORVANTA_SIGN_KEY:-}")
if [ -n "$sign_cert$sign_key" ] && { [ ! -r "$sign_cert" ] || [ ! -r "$sign_key" ]; }; then
  echo "release: ORVANTA_SIGN_CERT and ORVANTA_SIGN_KEY must both name readable PEM files" >&2
  exit 1
fi

rm -rf "$new"
cmake --preset release >/dev/null
cmake --build --preset release -j2

mingw=x86_64-w64-mingw32
built=build/release/orvanta-updater.exe
unsigned=build/release/orvanta-updater-unsigned.exe
mkdir "$new"
# The symbols go to their own file; the program keeps only its name and checksum.
$mingw-objcopy --only-keep-debug "$built" "$new/orvanta-updater.debug"
$mingw-objcopy --strip-all --add-gnu-debuglink="$new/orvanta-updater.debug" "$built" "$unsigned"
# Padded and checksummed as signing does, so that removing a signature gives these bytes.
python3 tools/pe_align.py "$unsigned"
bash tools/check-imports.sh $mingw-objdump --hardened "$unsigned" \
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
  osslsigncode sign -certs "$sign_cert" -key "$sign_key" -h sha256 \
    -n "ORVANTA 210 HV firmware updater" -i "https://www.varidyne.example" \
    "${timestamp[@]}" -in "$unsigned" -out "$new/orvanta-updater.exe" >/dev/null
  signed="signed with $(openssl x509 -in "$sign_cert" -noout -subject)"
  [ ${#timestamp[@]} -gt 0 ] || signed+=", without a time stamp"
else
  cp "$unsigned" "$new/orvanta-updater.exe"
  signed="UNSIGNED: ORVANTA_SIGN_CERT and ORVANTA_SIGN_KEY are not set, so Windows will warn of an unknown publisher"
fi

(cd "$new" && sha256sum orvanta-updater.exe orvanta-updater.debug >SHA256SUMS)
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
echo "dist/orvanta-updater.exe is $signed"
