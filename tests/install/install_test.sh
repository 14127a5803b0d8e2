#!/usr/bin/env bash
# Checks what users install:
#   install_test.sh tree BUILD_DIR SOURCE_DIR VERSION   cmake --install into a temporary prefix
#   install_test.sh deb  BUILD_DIR SOURCE_DIR VERSION   cpack -G DEB, then the package's contents
# Exits 77 (skipped) when a tool the check needs is missing.
set -euo pipefail
kind=$1 build=$2 source=$3 version=$4
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
need() { command -v "$1" >/dev/null || { echo "SKIP: $1 is not installed"; exit 77; }; }

# The files under ROOT, relative to it, must be exactly the expected ones.
check_file_list() {
  local root=$1 prefix=$2
  diff -u <(sed "s|^|$prefix|" "$here/installed_files.txt") \
    <(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort) ||
    fail "installed files differ from installed_files.txt"
}

# The page carries the version and renders without a single warning.
check_man_page() {
  local page=$1 out
  grep -q "^\.TH ZIPGRAFT 1 .*\"zipgraft $version\"" "$page" || fail "no version $version in .TH"
  ! grep -n '@[A-Z_]*@' "$page" || fail "unsubstituted variable in the page"
  out=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man failed"
  [ -z "$out" ] || fail "man warnings: $out"
  out=$(groff -man -ww -z "$page" 2>&1) || fail "groff failed"
  [ -z "$out" ] || fail "groff warnings: $out"
  if command -v mandoc >/dev/null; then
    mandoc -T lint "$page" || fail "mandoc -T lint"
  fi
}

# Every error line the sources print is listed under DIAGNOSTICS.
check_diagnostics() {
  local page=$1
  python3 - "$page" "$source/src" <<'PY' || fail "error lines missing from the page"
import pathlib, re, sys
page, src = sys.argv[1], pathlib.Path(sys.argv[2])
entries = []
for line in open(page, encoding="utf-8"):
    m = re.match(r'\.B "(ERROR: .*)"$', line.rstrip("\n"))
    if m:
        text = m.group(1).replace(r"\(aq", "'").replace(r"\-", "-")
        entries.append(re.sub(r"\\f[IBRP]", "", text))
printed = set()
for f in list(src.rglob("*.cpp")) + list(src.rglob("*.h")):
    for m in re.finditer(r'"(?:\\n)?(ERROR: (?:[^"\\]|\\.)*?)(?:\\n)*"', f.read_text(encoding="utf-8")):
        printed.add(m.group(1))
if not printed:
    sys.exit("no error lines found in the sources")
missing = [p for p in sorted(printed)
           if not any(re.fullmatch(re.escape(p).replace("%s", ".+"), e) for e in entries)]
for p in missing:
    print("not in DIAGNOSTICS:", p)
sys.exit(1 if missing else 0)
PY
}

# The installed program starts, shows its usage and exits 1 without arguments,
# tells the package's version, builds the bundled example into a package that
# unzip accepts, and verifies it.
check_program() {
  local program=$1 out status=0
  out=$("$program") || status=$?
  [ "$status" -eq 1 ] || fail "usage exit status $status, expected 1"
  grep -qF 'zipgraft STUBPROG ZIPDATA OUTPUTFILE [PASS_STRING]' <<<"$out" || fail "no usage: $out"
  out=$("$program" --version) || fail "--version exit status $?"
  [ "$out" = "zipgraft $version" ] || fail "--version says '$out', the package is $version"
  need zip
  "$source/examples/make_package_zip.sh" "$work/package.zip"
  "$program" "$source/examples/stub/stub.exe" "$work/package.zip" "$work/SETUP42.exe" >"$work/log" ||
    fail "example build: $(cat "$work/log")"
  unzip -tq "$work/SETUP42.exe" >/dev/null || fail "unzip -t rejects the example package"
  "$program" --verify "$work/SETUP42.exe" >"$work/log" || fail "--verify: $(cat "$work/log")"
}

# dpkg itself installs the package into a root and database of our own (the
# machine's are never touched), the program runs from the PATH, and removal
# leaves nothing behind but dpkg's records.
check_dpkg_install() {
  local deb=$1 target=$work/dpkg-root
  need dpkg
  mkdir -p "$target/var/lib/dpkg/info" "$target/var/lib/dpkg/updates"
  touch "$target/var/lib/dpkg/status"
  dpkg_in_target() {
    dpkg --root="$target" --force-not-root --force-depends --log=/dev/null "$@" \
      >"$work/dpkg.log" 2>&1 || fail "dpkg $*: $(cat "$work/dpkg.log")"
  }
  dpkg_in_target -i "$deb"
  PATH="$target/usr/bin:$PATH" check_program zipgraft
  dpkg_in_target -r zipgraft
  local left
  left=$(find "$target" -path "$target/var/lib/dpkg" -prune -o \( -type f -o -type l \) -print)
  [ -z "$left" ] || fail "left after removal: $left"
}

case $kind in
  tree)
    cmake --install "$build" --prefix "$work/prefix" >/dev/null
    check_file_list "$work/prefix" ""
    check_man_page "$work/prefix/share/man/man1/zipgraft.1"
    check_diagnostics "$work/prefix/share/man/man1/zipgraft.1"
    check_program "$work/prefix/bin/zipgraft"
    ;;
  deb)
    need dpkg-deb
    need dpkg-shlibdeps
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" ||
      fail "cpack: $(cat "$work/cpack.log")"
    deb=$(find "$work/out" -maxdepth 1 -name 'zipgraft_*.deb')
    [ -n "$deb" ] || fail "no .deb made"
    field() { dpkg-deb -f "$deb" "$1"; }
    [ "$(field Package)" = zipgraft ] || fail "Package: $(field Package)"
    [ "$(field Version)" = "$version-1" ] || fail "Version: $(field Version)"
    [ "$(field Section)" = devel ] || fail "Section: $(field Section)"
    [ "$(field Maintainer)" = "zipgraft authors <zipgraft@example.org>" ] ||
      fail "Maintainer: $(field Maintainer)"
    for dep in libexpat1 zlib1g; do
      grep -Eq "(^|, )$dep( |,|$)" <<<"$(field Depends)" || fail "Depends lacks $dep: $(field Depends)"
    done
    dpkg-deb -x "$deb" "$work/root"
    if command -v file >/dev/null; then
      file -b "$work/root/usr/bin/zipgraft" | grep -q ', stripped' || fail "zipgraft is not stripped"
    fi
    check_file_list "$work/root" "usr/"
    check_man_page "$work/root/usr/share/man/man1/zipgraft.1"
    check_dpkg_install "$deb"
    ;;
  *) fail "unknown kind '$kind'" ;;
esac
echo "PASS: install.$kind"
