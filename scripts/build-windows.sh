#!/usr/bin/env bash
# Cross-builds zipgraft.exe (Release) for 64-bit Windows with MinGW-w64,
# installing the cross tools from Debian's packages when they are missing.
#   scripts/build-windows.sh [BUILD_DIR] [extra cmake arguments...]
# The tool lands in BUILD_DIR/src/app/zipgraft.exe (BUILD_DIR defaults to
# build-windows/). -DZIPGRAFT_TESTS=ON adds the platform tests, run with
#   ctest --test-dir BUILD_DIR
# under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-windows}
shift || true

"$root/scripts/setup.sh" cmake ninja-build g++-mingw-w64-x86-64 libz-mingw-w64-dev wine64 googletest

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DZIPGRAFT_WERROR=ON -DZIPGRAFT_TESTS=OFF "$@"
cmake --build "$build" -j "$(nproc)"
echo "built: $build/src/app/zipgraft.exe"
