#!/usr/bin/env bash
# The release as a user receives it.
#   release_test.sh reproducible <work folder>
#     copies the checkout twice, into folders of different names and depths, and runs
#     tools/release.sh with the stand-in (--allow-stand-in) in each under another time
#     zone and umask, the second signed with a throw-away CA's code-signing certificate
#     named by paths relative to the caller's folder; the programs before signing and the
#     symbol files must be equal byte for byte, and so must the signed program with its
#     signature removed. A run with a key that does not match the certificate, without an
#     image, with an image that cannot be one (wrong length, one byte repeated, no regular
#     file), with --firmware twice or with the stand-in not asked for must fail, say why
#     and leave the last good dist/, also where an earlier run was cut short while it
#     replaced dist/; so must a run interrupted while it signs or between the two moves
#     that replace dist/. Another image given must be carried byte for byte, and its
#     SHA-256 printed and kept; so must new contents under the same path with an older
#     time. Leaves the signed release and the CA in the work folder.
#   release_test.sh signature <work folder>
#     checks that signed release: its checksums beside the published files alone, its
#     signature against the CA, a copy with one byte changed refused, its hardening and
#     imports, and its resources.
set -euo pipefail
mode=$1
work=$(realpath -m "$2")
source_dir=$(realpath "$(dirname "$0")/../..")
mingw=x86_64-w64-mingw32
status=0

fail() {
  echo "FAIL $*"
  status=1
}

make_ca() {
  local ca=$1
  mkdir -p "$ca"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throw-away test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
    -keyout "$ca/ca.key" -out "$ca/ca.pem" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/O=VARIDYNE/CN=VARIDYNE test code signing" \
    -keyout "$ca/sign.key" -out "$ca/sign.csr" 2>/dev/null
  printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
    "extendedKeyUsage=codeSigning" >"$ca/sign.ext"
  openssl x509 -req -in "$ca/sign.csr" -CA "$ca/ca.pem" -CAkey "$ca/ca.key" \
    -CAcreateserial -days 2 -extfile "$ca/sign.ext" -out "$ca/sign.pem" 2>/dev/null
  cat "$ca/sign.pem" "$ca/ca.pem" >"$ca/chain.pem"
}

# The checkout's files as they stand, uncommitted changes included, without builds.
copy_checkout() {
  local target=$1
  mkdir -p "$target"
  git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
    tar -C "$source_dir" --null --ignore-failed-read -T - -cf - 2>/dev/null |
    tar -C "$target" -xf -
}

reproducible() {
  local image=$work/stand-in.bin
  local release_args=(--firmware "$image" --allow-stand-in)
  rm -rf "$work"
  mkdir -p "$work"
  python3 "$source_dir/tools/gen_firmware.py" --image "$image" --header "$work/stand-in.h"
  make_ca "$work/ca"
  local epoch first second
  epoch=$(git -C "$source_dir" log -1 --format=%ct)
  first=$work/a/src
  second=$work/second-copy/deeper/updater
  # The copies are no git checkouts: the time comes from the checkout under test.
  (umask 077 && copy_checkout "$first")
  (umask 002 && copy_checkout "$second")
  (umask 077 && cd "$first" && unset ORVANTA_SIGN_CERT ORVANTA_SIGN_KEY &&
    TZ=Pacific/Kiritimati SOURCE_DATE_EPOCH=$epoch GIT_CEILING_DIRECTORIES=$work \
      bash tools/release.sh "${release_args[@]}" >"$work/a.log" 2>&1) || fail "first release build (see $work/a.log)"
  (umask 002 && cd "$work/ca" &&
    TZ=America/Adak SOURCE_DATE_EPOCH=$epoch GIT_CEILING_DIRECTORIES=$work \
      ORVANTA_SIGN_CERT=chain.pem ORVANTA_SIGN_KEY=sign.key \
      bash "$second/tools/release.sh" "${release_args[@]}" >"$work/b.log" 2>&1) || fail "second release build (see $work/b.log)"
  [ $status -eq 0 ] || exit 1
  local good left_by key why args
  good=$(cat "$second/dist/SHA256SUMS")
  head -c 90000 "$image" >"$work/short.bin"
  head -c 90224 /dev/zero >"$work/zeros.bin"
  mkfifo "$work/fifo"
  # Failed runs, with dist/ in place or as a run cut short between its two moves would
  # have left it, in dist.old/: where it was left, the key, what the run must say, its
  # arguments. Each run has a pipe on its descriptor 3, as <(cat FILE) gives.
  while IFS='|' read -r left_by key why args; do
    [ "$left_by" = dist ] || mv "$second/dist" "$second/$left_by"
    # shellcheck disable=SC2086 # the arguments are words without blanks
    if (cd "$work/ca" && SOURCE_DATE_EPOCH=$epoch GIT_CEILING_DIRECTORIES=$work \
      ORVANTA_SIGN_CERT=chain.pem ORVANTA_SIGN_KEY=$key \
      bash "$second/tools/release.sh" $args >"$work/c.log" 2>&1 3< <(cat "$image")); then
      fail "a release succeeded that should fail with: $why"
    fi
    if grep -q "$why" "$work/c.log" && grep -q "dist/ is left as it was" "$work/c.log" &&
      [ "$(cat "$second/dist/SHA256SUMS")" = "$good" ] &&
      (cd "$second/dist" && sha256sum --quiet -c SHA256SUMS) &&
      [ ! -e "$second/dist.new" ] && [ ! -e "$second/dist.old" ]; then
      echo "ok   a release refused ($why) leaves the last good dist/ as it was, from $left_by/"
    else
      fail "a release refused ($why) from $left_by/ does not say so or changed dist/ (see $work/c.log)"
    fi
  done <<EOF_RUNS
dist|ca.key|does not belong to the certificate|${release_args[*]}
dist.old|ca.key|does not belong to the certificate|${release_args[*]}
dist|sign.key|no firmware image|
dist|sign.key|made for an image of 90224 bytes|--firmware $work/short.bin --allow-stand-in
dist|sign.key|is the stand-in|--firmware $image
dist|sign.key|is the byte 0x00 repeated|--firmware $work/zeros.bin
dist|sign.key|is not a regular file|--firmware $work/fifo
dist|sign.key|is not a regular file|--firmware $work
dist|sign.key|is not a regular file|--firmware /dev/zero
dist|sign.key|is not a regular file|--firmware /dev/fd/3 --allow-stand-in
dist|sign.key|given twice|--firmware $work/short.bin --firmware $image --allow-stand-in
EOF_RUNS
  # Interrupted: by Ctrl-C while the signing tool waits for its time-stamp server (its
  # stand-in signals the script's process group, as a terminal does, then waits to be
  # ended), and by SIGTERM between the two moves that replace dist/. dist/ must hold a whole
  # release, the last good one if the new one was unfinished, nothing may be beside it,
  # and no step may still run.
  local shims=$work/shims tool signal code ran left
  mkdir -p "$shims/osslsigncode" "$shims/mv"
  cat >"$shims/osslsigncode/osslsigncode" <<'EOF_SHIM'
#!/usr/bin/env bash
echo $$ >"${0%/*}/pid"
kill -INT -- -"$PPID"
exec sleep 60
EOF_SHIM
  cat >"$shims/mv/mv" <<'EOF_SHIM'
#!/usr/bin/env bash
command -p mv "$@" || exit
[ "$*" != "dist dist.old" ] || kill -TERM "$PPID"
EOF_SHIM
  chmod +x "$shims"/*/*
  for point in "osslsigncode SIGINT 130" "mv SIGTERM 143"; do
    read -r tool signal code <<<"$point"
    ran=0
    (cd "$work/ca" && set -m
      PATH=$shims/$tool:$PATH SOURCE_DATE_EPOCH=$epoch GIT_CEILING_DIRECTORIES=$work \
        ORVANTA_SIGN_CERT=chain.pem ORVANTA_SIGN_KEY=sign.key \
        bash "$second/tools/release.sh" "${release_args[@]}" >"$work/interrupted-$tool.log" 2>&1 &
      wait $!) || ran=$?
    left=$(cd "$second" && echo dist*)
    if [ $ran -eq "$code" ] && [ "$left" = dist ] &&
      grep -q "release: interrupted by $signal; dist/" "$work/interrupted-$tool.log" &&
      (cd "$second/dist" && sha256sum --quiet -c SHA256SUMS) &&
      { [ "$tool" = mv ] || [ "$(cat "$second/dist/SHA256SUMS")" = "$good" ]; } &&
      { [ ! -e "$shims/$tool/pid" ] || ! kill -0 "$(cat "$shims/$tool/pid")" 2>/dev/null; }; then
      echo "ok   interrupted by $signal in $tool: $(tail -1 "$work/interrupted-$tool.log")"
    else
      fail "interrupted by $signal in $tool: status $ran, left $left (see $work/interrupted-$tool.log)"
    fi
  done
  grep -q "UNSIGNED" "$work/a.log" || fail "the unsigned release does not say so"
  grep -q "is signed with" "$work/b.log" || fail "the signed release does not say so"

  local left right
  for pair in "dist/orvanta-updater.exe build/release/orvanta-updater-unsigned.exe" \
    "dist/orvanta-updater.debug dist/orvanta-updater.debug"; do
    read -r left right <<<"$pair"
    if cmp "$first/$left" "$second/$right"; then
      echo "ok   $left: $(sha256sum <"$first/$left" | cut -d' ' -f1) from both folders"
    else
      fail "$left differs between the two folders"
    fi
  done
  # The signature removed, the signed program is the unsigned one, byte for byte.
  osslsigncode remove-signature -in "$second/dist/orvanta-updater.exe" \
    -out "$work/signature-removed.exe" >/dev/null
  if cmp "$first/dist/orvanta-updater.exe" "$work/signature-removed.exe"; then
    echo "ok   the signed program without its signature is the unsigned one"
  else
    fail "the signed program without its signature differs from the unsigned one"
  fi
  # Other images, named relative to the caller's folder, under a name with blanks: each
  # carried byte for byte, its CRC-32 in the header the program checks it with, its
  # SHA-256 printed and kept beside the release. The second has the first one's path and
  # an older time, as unpacking an archive or cp -p gives.
  local maker="$work/my dir/maker image.bin" sum crc shift
  mkdir -p "$work/my dir"
  for shift in 1 2; do
    python3 -c 'import sys; sys.stdout.buffer.write(bytes((b + int(sys.argv[2])) % 256
for b in open(sys.argv[1], "rb").read()))' "$image" $shift >"$maker"
    [ $shift -eq 1 ] || touch -d '2001-01-01' "$maker"
    sum=$(sha256sum <"$maker" | cut -d' ' -f1)
    crc=$(python3 -c 'import sys, zlib; print("%08x" % zlib.crc32(open(sys.argv[1], "rb").read()))' \
      "$maker")
    (cd "$work/a" && SOURCE_DATE_EPOCH=$epoch GIT_CEILING_DIRECTORIES=$work \
      bash src/tools/release.sh --firmware "../my dir/maker image.bin" >"$work/maker-$shift.log" 2>&1) ||
      fail "the release of another image (see $work/maker-$shift.log)"
    if python3 "$source_dir/resources/check_resources.py" --object "$first/dist/orvanta-updater.exe" \
      --catalogue "$source_dir/resources/catalogue.txt" --image "$maker" \
      --tools "$source_dir/tools" >"$work/maker-resources.log" 2>&1 &&
      grep -q "SHA-256 $sum" "$work/maker-$shift.log" &&
      grep -q "kFirmwareImageCrc32 = 0x${crc}u" "$first/build/release/generated/firmware_image_digest.h" &&
      [ "$(cat "$first/dist/firmware.sha256")" = "$sum  maker image.bin" ]; then
      echo "ok   image $shift is carried byte for byte, its CRC-32 made from it, its SHA-256 printed and kept"
    else
      fail "image $shift is not carried, its CRC-32 not made from it, or its SHA-256 not printed and kept (see $work/maker*.log)"
    fi
  done
  mv "$second/dist" "$work/dist"
  rm -rf "$work/a" "$work/second-copy"
  exit $status
}

signature() {
  local image=$work/stand-in.bin
  local dist=$work/dist program=$work/dist/orvanta-updater.exe
  # What a user downloads, and nothing else: SHA256SUMS names exactly the other published
  # files and checks them in a folder of their own.
  local published=(orvanta-updater.exe SHA256SUMS) file
  rm -rf "$work/published"
  mkdir "$work/published"
  for file in "${published[@]}"; do cp "$dist/$file" "$work/published/"; done
  if [ "$(cut -c67- "$dist/SHA256SUMS")" = "$(printf '%s\n' "${published[@]:0:${#published[@]}-1}")" ] &&
    (cd "$work/published" && sha256sum --quiet -c SHA256SUMS); then
    echo "ok   sha256sum -c SHA256SUMS passes beside the published files alone"
  else
    fail "SHA256SUMS does not name exactly the published files or does not check them"
  fi
  if osslsigncode verify -CAfile "$work/ca/ca.pem" -in "$program" >"$work/verify.log" 2>&1; then
    echo "ok   the signature verifies against the CA"
  else
    fail "the signature does not verify (see $work/verify.log)"
  fi
  grep -q "Message digest algorithm *: SHA256" "$work/verify.log" || fail "not signed with SHA-256"
  # One byte of the code changed, well inside the signed part.
  local changed=$work/changed.exe offset
  cp "$program" "$changed"
  offset=$(($(stat -c %s "$program") / 4))
  python3 -c 'import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(int(sys.argv[2])); byte = f.read(1)[0]; f.seek(int(sys.argv[2])); f.write(bytes([byte ^ 1]))
' "$changed" "$offset"
  cmp -s "$program" "$changed" && fail "the copy was not changed"
  if osslsigncode verify -CAfile "$work/ca/ca.pem" -in "$changed" >"$work/changed.log" 2>&1; then
    fail "a copy with one changed byte still verifies"
  else
    echo "ok   a copy with one changed byte is refused"
  fi
  bash "$source_dir/tools/check-imports.sh" $mingw-objdump --hardened "$program" \
    gdi32.dll kernel32.dll msvcrt.dll setupapi.dll user32.dll || status=1
  local sections
  sections=$($mingw-objdump -h "$program")
  if grep -q '\.debug_' <<<"$sections" || ! grep -q '\.gnu_debuglink' <<<"$sections"; then
    fail "debug sections shipped, or no link to the symbol file"
  fi
  python3 "$source_dir/resources/check_resources.py" --object "$program" \
    --catalogue "$source_dir/resources/catalogue.txt" --image "$image" \
    --tools "$source_dir/tools" || status=1
  exit $status
}

case $mode in
  reproducible) reproducible ;;
  signature) signature ;;
  *)
    echo "usage: $0 reproducible|signature <work folder>" >&2
    exit 2
    ;;
esac
