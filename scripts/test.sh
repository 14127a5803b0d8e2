#!/usr/bin/env bash
# Sets everything up, then builds and runs the whole test suite twice: a normal
# build with g++, and a build with AddressSanitizer and UndefinedBehaviorSanitizer
# made with clang.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

jobs=$(nproc)

echo "== normal build (g++) =="
"$root/scripts/build.sh" "$root/build" -DZIPGRAFT_TESTS=ON
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

echo "== sanitizer build (clang, ASan + UBSan) =="
CC=clang CXX=clang++ "$root/scripts/build.sh" "$root/build-asan" -DZIPGRAFT_SANITIZE=ON -DZIPGRAFT_TESTS=ON \
  -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"
