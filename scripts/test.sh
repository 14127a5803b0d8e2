#!/usr/bin/env bash
# Sets everything up, then builds and runs the whole test suite twice: a normal
# build with g++, and a build with AddressSanitizer and UndefinedBehaviorSanitizer
# made with clang. Then the Windows build (MinGW-w64): its platform tests and the
# whole-program tests against zipgraft.exe, under Wine. Last, each fuzz target
# for 10 s (clang, libFuzzer).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

jobs=$(nproc)

echo "== normal build (g++) =="
"$root/scripts/build.sh" "$root/build" -DZIPGRAFT_TESTS=ON
ctest --test-dir "$root/build" --output-on-failure -j "$jobs" -LE wine

echo "== sanitizer build (clang, ASan + UBSan) =="
CC=clang CXX=clang++ "$root/scripts/build.sh" "$root/build-asan" -DZIPGRAFT_SANITIZE=ON -DZIPGRAFT_TESTS=ON \
  -DCMAKE_BUILD_TYPE=Debug
# The packaging tests (install tree, .deb, the example stub under Wine) check
# what ships, not our code's memory use, and the large ones (packages of more
# than 4 GiB) copy gigabytes through the same code the small ones run: the
# normal build runs them.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs" -LE 'packaging|large'

echo "== Windows build (MinGW-w64) and its tests under Wine =="
windows_start=$(date +%s)
"$root/scripts/build-windows.sh" "$root/build-windows" -DZIPGRAFT_TESTS=ON
ctest --test-dir "$root/build-windows" --output-on-failure -j "$jobs"
# The Windows archive carries the program with its documents and every notice.
(cd "$root/build-windows" && rm -f zipgraft-*-win64.zip && cpack -G ZIP >/dev/null)
listing=$(unzip -l "$root"/build-windows/zipgraft-*-win64.zip)
for file in zipgraft.exe README.md LICENSE THIRD_PARTY.md licenses/expat.txt licenses/zlib.txt \
            licenses/mingw-w64.txt licenses/gcc-runtime.txt; do
  grep -q "win64/$file\$" <<<"$listing" || { echo "the Windows archive lacks $file"; exit 1; }
done
# The g++ build's whole-program tests once more, against zipgraft.exe.
cmake -S "$root" -B "$root/build" \
  -DZIPGRAFT_WINDOWS_EXE="$root/build-windows/src/app/zipgraft.exe" >/dev/null
ctest --test-dir "$root/build" --output-on-failure -j "$jobs" -L wine
# Wine's servers end a few seconds after their last program; wait for them.
for prefix in "$root/build-windows/wine/prefix" "$root/build/wine/prefix"; do
  [ ! -d "$prefix" ] || WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w || true
done
echo "== Windows part: $(( $(date +%s) - windows_start )) s =="

echo "== fuzz targets, 10 s each (clang, libFuzzer) =="
"$root/scripts/fuzz.sh" 10
