#!/usr/bin/env bash
# Packages built from the stubs of every toolchain the fixtures use (MinGW-w64
# gcc, clang with lld; i686 and x86_64; with and without symbols), checked
# against their stubs by tools nobody here wrote: pefile, objdump, and
# Windows' own version reader and loader under Wine (skipped without wine64).
#   toolchain_stubs_test.sh ZIPGRAFT SOURCE_DIR STUB_DIR WORK_DIR
set -euo pipefail
zipgraft=$1 src=$2 stubs=$3 work=$4
# shellcheck source=package_checks.sh
. "$src/tests/pe/package_checks.sh"

rm -rf "$work/rows"
mkdir -p "$work/rows"
bash "$src/examples/make_package_zip.sh" "$work/package.zip"
[ "$wine_ok" = 1 ] || echo "SKIP: Wine checks (wine64 is not installed)"

# The stubs; x86_64 ones must run. stub64_shortraw's version data runs past
# its section's raw size, where the loader still reads the file. The go_ and
# rust_ ones are committed (tests/fixtures/toolchains/MANIFEST).
rows=(tc_gcc_i686 tc_gcc_i686_s tc_gcc_x86_64 tc_gcc_x86_64_s
      tc_clang_i686 tc_clang_i686_s tc_clang_x86_64 tc_clang_x86_64_s stub64_shortraw
      go_x86_64 rust_x86_64)
checked=0
for row in "${rows[@]}"; do
  stub=$stubs/$row.exe
  [ -f "$stub" ] || stub=$src/tests/fixtures/toolchains/$row.exe
  if [ ! -f "$stub" ]; then
    echo "SKIP: $row (not built: is lld installed?)"
    continue
  fi
  dir=$work/rows/$row
  mkdir -p "$dir/stub" "$dir/package"
  # The same file name in both folders, so that objdump's output compares.
  cp "$stub" "$dir/stub/SETUP42.exe"
  package=$dir/package/SETUP42.exe
  if [ "$wine_ok" = 1 ]; then
    wine "$stubs/version_reader.exe" "$stub" >"$dir/stub_version.txt" 2>&1 || true
    grep -qx "ProductVersion=1.2.0.5" <(tr -d '\r' <"$dir/stub_version.txt") ||
      fail "$row: Windows' version reader shows the stub's own strings: $(cat "$dir/stub_version.txt")"
  fi
  if ! "$zipgraft" "$stub" "$work/package.zip" "$package" "pass" >"$dir/zipgraft.log"; then
    cat "$dir/zipgraft.log"
    fail "$row: a package is built"
    continue
  fi
  checked=$((checked + 1))
  check=$("$python" "$src/tests/support/pefile_tool.py" package "$package" "$stub") ||
    fail "$row: pefile: $check"
  sections=$("$python" -c 'import pefile,sys; print(len(pefile.PE(sys.argv[1], fast_load=True).sections))' "$stub")
  # Every block here fits the address room of the stub's resource section.
  [ "$(grep -x "SECTIONS $sections" <<<"$check")" ] || fail "$row: a section was added: $check"
  if grep -q '^MOVED' <<<"$check"; then fail "$row: sections moved: $check"; fi
  case $row in *i686*) objdump=i686-w64-mingw32-objdump ;; *) objdump=x86_64-w64-mingw32-objdump ;; esac
  for option in -t -g; do
    cmp -s <(cd "$dir/stub" && "$objdump" "$option" SETUP42.exe 2>&1) \
      <(cd "$dir/package" && "$objdump" "$option" SETUP42.exe 2>&1) ||
      fail "$row: objdump $option differs"
  done
  [ "$wine_ok" = 1 ] || continue
  wine "$stubs/version_reader.exe" "$package" >"$dir/version.txt" 2>&1 || true
  for line in "fixed=00010000.0000000c" "ProductName=Sound Driver Package" \
    "FileDescription=Sound Driver Package" "FileVersion=1.00.0.12" "PrivateBuild=pass" \
    "Comments=Created using stubprog version 1.2.0.5"; do
    grep -qxF "$line" <(tr -d '\r' <"$dir/version.txt") ||
      fail "$row: Windows' version reader shows $line: $(cat "$dir/version.txt")"
  done
  case $row in *x86_64* | stub64*)
    wine "$stub" --about >"$dir/stub.out" 2>&1 || fail "$row: the stub runs"
    wine "$package" --about >"$dir/package.out" 2>&1 || fail "$row: the package runs"
    cmp -s "$dir/stub.out" "$dir/package.out" || fail "$row: the package prints what the stub prints"
    ;;
  esac
done
echo "$checked stubs checked"
[ "$checked" -ge 4 ] || fail "fewer than the gcc stubs were checked"
if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
