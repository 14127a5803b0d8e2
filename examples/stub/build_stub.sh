#!/usr/bin/env bash
# Rebuilds stub.exe with the MinGW-w64 cross compiler. The built stub is kept
# in the repository so the example runs without the cross compiler.
set -euo pipefail
cd "$(dirname "$0")"
x86_64-w64-mingw32-windres stub.rc -O coff -o stub.res
x86_64-w64-mingw32-gcc -Os -s -o stub.exe stub.c stub.res
rm -f stub.res
