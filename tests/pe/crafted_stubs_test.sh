#!/usr/bin/env bash
# Packages from stubs crafted to hold what a rebuild must not break: debug
# directories that run past the image, over other data or behind the
# sections; import names, a TLS template and unwind data in a discardable
# section behind the resources; bytes the loader maps past a raw size; base
# relocations and a symbol table inside .rsrc; a large overlay; overlapping
# sections; the string tables of .NET and Delphi. Each package is checked by
# pefile against its stub, by Windows' own version reader under Wine, and
# run where the stub runs (skipped without wine64).
#   crafted_stubs_test.sh ZIPGRAFT SOURCE_DIR STUB_DIR WORK_DIR
set -euo pipefail
zipgraft=$1 src=$2 stubs=$3 work=$4
# shellcheck source=package_checks.sh
. "$src/tests/pe/package_checks.sh"
[ "$wine_ok" = 1 ] || echo "SKIP: Wine checks (wine64 is not installed)"

rm -rf "$work/rows" && mkdir -p "$work/rows"
# The short package's block fits every stub's resource room; the long one's
# name makes the resources outgrow it, so that later sections must move.
bash "$src/examples/make_package_zip.sh" "$work/short.zip"
long=$(seq -s ' ' 1 700)
mkdir -p "$work/long" && sed "s/>Sound Driver</>$long</" "$src/examples/package/SETUP42.xml" \
  >"$work/long/SETUP42.xml"
(cd "$work/long" && rm -f ../long.zip && zip -q -X ../long.zip SETUP42.xml)

# case | stub | craft | package | sections added (or "refused") | sections that may move | the
# stub's InternalName and FileVersion, as the comment carries them
rows='
debugpast    stub64_debug        debugpast   long  0 .reloc stubprog_1.2.0.5
debugodd     stub64_debug        debugodd    long  0 .reloc stubprog_1.2.0.5
debuglong    stub64_debug        debuglong   long  0 .reloc stubprog_1.2.0.5
debugbehind  stub64_debug        debugbehind long  0 .reloc stubprog_1.2.0.5
importnames  stub64_full         import      long  1 -      stubprog_1.2.0.5
tlstemplate  stub64_full         tls         long  1 -      stubprog_1.2.0.5
unwinddata   stub64_full         unwind      long  1 -      stubprog_1.2.0.5
tailbytes    stub64_extrasection tailbytes   long  1 -      stubprog_1.2.0.5
relocrsrc    stub64_full         relocrsrc   short 1 -      stubprog_1.2.0.5
symrsrc      stub64_full         symrsrc     short 1 -      stubprog_1.2.0.5
overlay      stub64_overlay      overlay     long  0 .reloc stubprog_1.2.0.5
overlap      stub64_full         overlap     short refused - -
dotnet       stub64_dotnet       -           short 0 -      stubprog_1.2.0.5
delphi       stub64_delphi       -           short 0 -      stubprog_1.2.0.5
german       stub64_german       -           short 0 -      stubprog_2.0.0.0
'
checked=0
while read -r name base craft package added movable comment; do
  [ -n "$name" ] || continue
  dir=$work/rows/$name
  mkdir -p "$dir"
  stub=$dir/stub.exe
  cp "$stubs/$base.exe" "$stub"
  [ "$craft" = - ] || "$python" "$src/tests/fixtures/stubs/pe_fixup.py" craft "$stub" "$craft"
  out=$dir/SETUP42.exe
  if [ "$added" = refused ]; then
    if "$zipgraft" "$stub" "$work/$package.zip" "$out" >"$dir/log"; then
      fail "$name: a package was built"
    fi
    grep -qxF "ERROR: the stub's sections '.rsrc' and '.reloc' overlap in the file" "$dir/log" &&
      grep -qxF "ERROR: UpdateResource(RT_VERSION) failed (0x0000000d)." "$dir/log" ||
      fail "$name: the refusal names the overlapping sections: $(cat "$dir/log")"
    continue
  fi
  build_package "$name" "$stub" "$work/$package.zip" "$out" pass || continue
  checked=$((checked + 1))
  pefile_package "$name" "$out" "$stub"
  sections=$("$python" -c 'import pefile,sys; print(len(pefile.PE(sys.argv[1], fast_load=True).sections))' "$stub")
  grep -qx "SECTIONS $((sections + added))" <<<"$check" ||
    fail "$name: expected $added added section(s): $check"
  while read -r moved; do
    [ -z "$moved" ] || [[ ",$movable," == *",${moved#MOVED },"* ]] || fail "$name: $moved"
  done < <(grep '^MOVED' <<<"$check" || true)
  [ "$wine_ok" = 1 ] || continue
  shows_versions "$name" "$out" "FileVersion=1.00.0.12" "PrivateBuild=pass" \
    "Comments=Created using ${comment/_/ version }"
  runs_alike "$name" "$stub" "$out" --about
done <<<"$rows"
echo "$checked crafted stubs built"
[ "$checked" -ge 14 ] || fail "not every crafted stub was built"
finish
