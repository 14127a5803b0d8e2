#!/usr/bin/env bash
# Rebuilds the self-extracting stub with the MinGW-w64 cross compiler and
# Debian's static MinGW zlib (libz-mingw-w64-dev):
#   examples/stub/build_stub.sh [OUT.exe]      (default: stub.exe beside this script)
# The build is reproducible (fixed flags, no link timestamp, stripped, sources
# named relative to this folder): with Debian 12's MinGW-w64 packages the
# committed stub.exe matches a fresh build byte for byte. The built stub is
# kept in the repository so the example runs without the cross compiler.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(realpath -m "${1:-$here/stub.exe}")
cc=x86_64-w64-mingw32-gcc
windres=x86_64-w64-mingw32-windres

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$here"
sources=(main.c console.c self_file.c end_record.c zip_reader.c member_name.c safe_path.c
         directories.c member_data.c extract.c version_strings.c)
"$windres" stub.rc -O coff -o "$work/stub.res"
"$cc" -std=c11 -Os -Wall -Wextra -Wpedantic -municode -fno-ident -DWIN32_LEAN_AND_MEAN \
  -ffile-prefix-map="$here"=. -o "$work/stub.exe" "${sources[@]}" "$work/stub.res" \
  -s -Wl,--no-insert-timestamp -Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va \
  -Wl,-Bstatic -lz -Wl,-Bdynamic -lversion
mv "$work/stub.exe" "$out"
