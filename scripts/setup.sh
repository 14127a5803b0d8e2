#!/usr/bin/env bash
# Installs what zipgraft needs to build and test, from Debian's packages.
# Runs apt-get only when something is missing.
#   scripts/setup.sh              everything
#   scripts/setup.sh PACKAGE...   only these
set -euo pipefail

all=(
  cmake ninja-build g++ clang lld pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libexpat1-dev
  zip unzip libarchive-tools openssl python3 python3-pefile time
  man-db groff-base mandoc dpkg-dev file
  gcc-mingw-w64-x86-64 gcc-mingw-w64-i686
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  libz-mingw-w64-dev wine64 osslsigncode 7zip
  g++-mingw-w64-x86-64 googletest stress-ng
)
if [ $# -gt 0 ]; then packages=("$@"); else packages=("${all[@]}"); fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
fi
