#!/usr/bin/env bash
# Sets everything up, builds zipgraft, and builds a package from the bundled
# example: examples/stub/stub.exe and the archive made from examples/package/.
# Then shows the result with standard tools and, when Wine is installed, runs
# the package itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" -DZIPGRAFT_TESTS=OFF

out="$root/out"
rm -rf "$out" && mkdir -p "$out"
"$root/examples/make_package_zip.sh" "$out/package.zip"

echo "== zipgraft =="
"$root/build/src/app/zipgraft" "$root/examples/stub/stub.exe" "$out/package.zip" \
  "$out/SETUP42.exe" "example build"

echo "== the package's members (unzip -l) =="
unzip -l "$out/SETUP42.exe"
echo "== the package's version strings (pefile) =="
/usr/bin/python3 "$root/examples/show_version.py" "$out/SETUP42.exe"

# The package itself, under Wine when it is installed (a private prefix under
# build/; its first start takes a while).
if [ -x /usr/lib/wine/wine64 ]; then
  run_package() {
    bash "$root/scripts/wine-run.sh" --prefix "$root/build/wine/prefix" "$@"
  }
  echo "== the package lists its members (under Wine) =="
  run_package "$out/SETUP42.exe" --list
  echo "== the package shows its version strings (under Wine) =="
  run_package --wait "$out/SETUP42.exe" --version
fi
